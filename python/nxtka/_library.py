"""Finding the shared library and declaring its functions for ctypes."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Optional

from ._checks import error_check
from ._declarations import DECLARATIONS

#: True where the library uses the callee-cleans (stdcall) convention.
STDCALL = sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4


class ActivationParams(ctypes.Structure):
    """The record given to ``TKAactivateExtended``."""

    _fields_ = [
        ("size", ctypes.c_int32),
        ("bufferCapacity", ctypes.c_int32),
        ("flags", ctypes.c_uint32),
        ("baudRate", ctypes.c_int32),
    ]


class LinearPoint(ctypes.Structure):
    """One point of a linearization table: input ``x``, output ``y``."""

    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double)]


_FUNCTYPE = ctypes.WINFUNCTYPE if STDCALL else ctypes.CFUNCTYPE  # type: ignore[attr-defined]

#: The event type: a HANDLE on Windows, a file descriptor elsewhere.
EVENT = ctypes.c_void_p if sys.platform == "win32" else ctypes.c_int

#: The callback type that ``NXreservedExec`` runs: ``int32 (uint32 port, int32 argument)``.
EXEC_CALLBACK = _FUNCTYPE(ctypes.c_int32, ctypes.c_uint32, ctypes.c_int32)

#: The ctypes type of every C type name used in the declarations.
CTYPES = {
    "void": None,
    "int32_t": ctypes.c_int32,
    "uint32_t": ctypes.c_uint32,
    "double": ctypes.c_double,
    "NXTKA_EVENT": EVENT,
    "NXTKA_EVENT *": ctypes.POINTER(EVENT),
    "NXTKA_EXEC_CALLBACK": EXEC_CALLBACK,
    "char *": ctypes.c_char_p,
    "const char *": ctypes.c_char_p,
    "double *": ctypes.POINTER(ctypes.c_double),
    "int32_t *": ctypes.POINTER(ctypes.c_int32),
    "const int32_t *": ctypes.POINTER(ctypes.c_int32),
    "const uint32_t *": ctypes.POINTER(ctypes.c_uint32),
    "unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
    "const unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
    "uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "int64_t *": ctypes.POINTER(ctypes.c_int64),
    "uint64_t *": ctypes.POINTER(ctypes.c_uint64),
    "const uint8_t *": ctypes.POINTER(ctypes.c_uint8),
    "const ActivationParams *": ctypes.POINTER(ActivationParams),
    "LinearPoint *": ctypes.POINTER(LinearPoint),
}

_FILE_NAMES = ("NXTKA.dll",) if sys.platform == "win32" else ("libnxtka.so.1", "libnxtka.so", "libnxtka.dylib")


def candidates() -> list[str]:
    """The paths and names tried in order: ``NXTKA_LIBRARY``, next to the package, the system's loader."""
    found: list[str] = []
    explicit = os.environ.get("NXTKA_LIBRARY")
    if explicit:
        found.append(explicit)
    here = os.path.dirname(os.path.abspath(__file__))
    found += [os.path.join(here, name) for name in _FILE_NAMES if os.path.exists(os.path.join(here, name))]
    found += list(_FILE_NAMES)
    system = ctypes.util.find_library("nxtka")
    if system:
        found.append(system)
    return found


def declare(library: ctypes.CDLL) -> ctypes.CDLL:
    """Sets ``argtypes``, ``restype`` and the error check of every declared function of ``library``; returns it."""
    for name, result, arguments in DECLARATIONS:
        function = getattr(library, name)
        function.restype = CTYPES[result]
        function.argtypes = [CTYPES[a] for a in arguments]
        check = error_check(library, name, result, tuple(arguments))
        if check is not None:
            function.errcheck = check
    return library


def open_library(path: str) -> ctypes.CDLL:
    """Loads the library at ``path`` (WinDLL on 32-bit Windows, CDLL elsewhere) and declares its functions."""
    loader = ctypes.WinDLL if STDCALL else ctypes.CDLL  # type: ignore[attr-defined]
    return declare(loader(path))


_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded and declared library, loaded on first use.

    Raises ``OSError`` naming every place tried when none of them loads.
    """
    global _library
    with _lock:
        if _library is None:
            errors = []
            explicit = os.environ.get("NXTKA_LIBRARY")
            for path in candidates():
                try:
                    _library = open_library(path)
                    break
                except OSError as e:
                    errors.append(f"{path}: {e}")
                    if path == explicit:
                        break
            if _library is None:
                raise OSError("cannot load the nxtka library (set NXTKA_LIBRARY to its path): " + "; ".join(errors))
        return _library

"""The one error check on every declared function: the library's -1 / -1.0 (or null event) becomes an exception.

A call that takes a port number forgets the thread's previous failure as it
starts and records one whenever it fails, so a -1 that comes with no
recorded failure is an answer (a factor the amplifier cannot express, a CAN
identifier with bit 31 set, a display norm of -1.0), not a failure.
"""

from __future__ import annotations

import ctypes
from typing import Any, Callable, Optional

from .errors import Failure, NxtkaError, failure_error, read_failure

#: Exports that never fail, or that report their own codes to the caller (memory steps, linearization tables).
UNCHECKED = frozenset({
    "NXgetLastFailure", "TKAversion", "TKArevision",
    "TKAreadMemory", "TKAwriteMemory", "TKAcopyLinear", "NXwriteMemoryVerified",
})

#: Exports whose -1 is also an answer: the amplifier's word holds no value
#: there (the library still says why); only other failures raise.
MINUS_ONE_ANSWERED = frozenset({"TKAreadSamplingFactor"})

#: Exports that take a port number but leave the failure record alone.
WITHOUT_REASON = frozenset({"NXsetDeviceName", "NXgetDeviceName"})

_FAILED = {"int32_t": -1, "double": -1.0, "NXTKA_EVENT": None}

Check = Callable[[Any, Any, tuple], Any]


def error_check(lib: ctypes.CDLL, name: str, result: str, arguments: tuple[str, ...]) -> Optional[Check]:
    """The ``errcheck`` for the export ``name`` of ``lib`` returning the C type ``result``, or None for none."""
    if name in UNCHECKED or result not in _FAILED:
        return None
    failed = _FAILED[result]
    if result == "NXTKA_EVENT":  # a descriptor on POSIX, a HANDLE (None when null) on Windows
        return _null_check(lib, name)
    if name in WITHOUT_REASON:
        return _reasonless_check(name, failed)
    answers_minus_one = arguments[:1] == ("uint32_t",)

    def check(value: Any, function: Any, call_arguments: tuple) -> Any:
        if value != failed:
            return value
        failure, text = read_failure(lib)
        if failure == Failure.NONE and answers_minus_one:
            return value
        if failure == Failure.ANSWER and name in MINUS_ONE_ANSWERED:
            return value
        raise failure_error(name, failure, text)

    return check


def _null_check(lib: ctypes.CDLL, name: str) -> Check:
    def check(value: Any, function: Any, call_arguments: tuple) -> Any:
        if value:
            return value
        raise failure_error(name, *read_failure(lib))

    return check


def _reasonless_check(name: str, failed: Any) -> Check:
    def check(value: Any, function: Any, call_arguments: tuple) -> Any:
        if value == failed:
            raise NxtkaError(name, Failure.NONE, "")
        return value

    return check

"""The binding's one table of declarations against the export list, the header and the built library."""

import ctypes
import os
import re

import pytest

from conftest import ROOT
from nxtka import _library
from nxtka._declarations import DECLARATIONS

# Sizes on 32-bit Windows, where the export list's byte counts (the stdcall
# decoration) come from: a double takes 8 bytes, everything else 4.
SIZE_32 = {"double": 8}


def header_prototypes():
    """``{name: (result, [argument types])}`` read from include/nxtka.h."""
    with open(os.path.join(ROOT, "include", "nxtka.h")) as f:
        text = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
    found = {}
    for m in re.finditer(r"^NXTKA_API\s+([\w ]+?)\s+NXTKA_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text, re.M):
        result, name, arguments = m.group(1), m.group(2), " ".join(m.group(3).split())
        types = []
        if arguments != "void":
            for argument in arguments.split(","):
                # drop the parameter's name; keep "const" and the pointer star
                spelled = re.sub(r"\s*\b\w+\s*$", "", argument.strip()).replace("*", " *")
                types.append(" ".join(spelled.split()))
        assert name not in found, f"{name} declared twice in the header"
        found[name] = (result, types)
    return found


def export_list():
    """``[(name, byte count)]`` of exports/nxtka.exports in its order."""
    rows = []
    with open(os.path.join(ROOT, "exports", "nxtka.exports")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, count = line.split()
                rows.append((name, int(count)))
    return rows


def test_table_names_follow_the_export_list_once_each():
    names = [row[0] for row in DECLARATIONS]
    assert len(names) == len(set(names))
    assert names == [name for name, _ in export_list()]


def test_table_types_match_the_header_prototypes():
    header = header_prototypes()
    assert sorted(header) == sorted(row[0] for row in DECLARATIONS)
    wrong = [
        (name, (result, list(arguments)), header[name])
        for name, result, arguments in DECLARATIONS
        if (result, list(arguments)) != header[name]
    ]
    assert wrong == []


def test_argument_bytes_match_the_32_bit_decoration():
    counts = dict(export_list())
    wrong = {}
    for name, _, arguments in DECLARATIONS:
        size = sum(SIZE_32.get(a, 4) for a in arguments)
        if size != counts[name]:
            wrong[name] = (size, counts[name])
    assert wrong == {}


@pytest.mark.parametrize(
    "c_type, size",
    [
        ("int32_t", 4),
        ("uint32_t", 4),
        ("double", 8),
        ("NXTKA_EVENT", ctypes.sizeof(ctypes.c_int)),
        ("double *", ctypes.sizeof(ctypes.c_void_p)),
        ("const ActivationParams *", ctypes.sizeof(ctypes.c_void_p)),
        ("NXTKA_EXEC_CALLBACK", ctypes.sizeof(ctypes.c_void_p)),
    ],
)
def test_ctypes_sizes_are_the_c_sizes(c_type, size):
    assert ctypes.sizeof(_library.CTYPES[c_type]) == size


def test_every_table_type_has_a_ctypes_type_and_the_records_their_layout():
    used = {t for _, result, arguments in DECLARATIONS for t in (result, *arguments)}
    assert used - set(_library.CTYPES) == set()
    # ActivationParams: four 32-bit fields; LinearPoint: x then y, doubles.
    assert ctypes.sizeof(_library.ActivationParams) == 16
    assert _library.ActivationParams.baudRate.offset == 12
    assert ctypes.sizeof(_library.LinearPoint) == 16
    assert _library.LinearPoint.y.offset == 8


def test_library_has_every_declared_function_and_refuses_undeclared_arguments():
    lib = _library.library()
    for name, _, arguments in DECLARATIONS:
        assert len(getattr(lib, name).argtypes) == len(arguments), name
    # Undeclared, a str became a one-character device name; declared, it is refused.
    with pytest.raises(ctypes.ArgumentError):
        lib.NXsetDeviceName(1, "/dev/ttyUSB0")
    with pytest.raises(ctypes.ArgumentError):
        lib.TKAsetGain(1, 2.5)


def test_every_public_name_has_a_docstring():
    import inspect

    import nxtka
    from nxtka import descriptors, groups, linear, memory, procedures, settings

    missing = []
    objects = [(name, getattr(nxtka, name)) for name in nxtka.__all__]
    objects += [(f"groups.{name}", cls) for name, cls in groups.GROUP_CLASSES.items()]
    for module in (nxtka, descriptors, groups, linear, memory, procedures, settings):
        objects.append((module.__name__, module))
    for name, obj in objects:
        if not inspect.getdoc(obj):
            missing.append(name)
        if inspect.isclass(obj) and obj.__module__.startswith("nxtka"):
            for klass in obj.__mro__:
                for attribute, member in vars(klass).items():
                    documented = (property, descriptors.Setting, groups.GroupSetting)
                    if attribute.startswith("_") or not (callable(member) or isinstance(member, documented)):
                        continue
                    if not (member.__doc__ or "").strip():
                        missing.append(f"{name}.{attribute}")
    assert missing == []

"""Build backend of the package: a wheel with the nxtka library inside, built with CMake from this repository.

pip calls it as any build backend (``pip install ./python``, ``pip wheel
./python``). It needs nothing but the standard library, so it works offline
with or without build isolation. CMake configures the repository root in a
temporary directory, builds the target ``nxtka`` only, and the library goes
into the package beside its modules; the wheel is tagged for this platform.

``NXTKA_BUILD_DIR`` names a build directory to use and keep instead (an
existing one, such as build/default, is only brought up to date).
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROOT = os.path.dirname(HERE)
PACKAGE = "nxtka"
LIBRARY_FILE = "NXTKA.dll" if sys.platform == "win32" else "libnxtka.so.1"


class BuildError(Exception):
    """The library could not be built; the message says what to do."""


def _project():
    """``(name, version, metadata text)`` from pyproject.toml's [project] table and the README."""
    with open(os.path.join(HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()

    def value(key):
        m = re.search(rf'^{key}\s*=\s*"([^"]*)"', text, re.M)
        return m.group(1) if m else None

    def strings(key):
        m = re.search(rf"^{key}\s*=\s*\[([^\]]*)\]", text, re.M)
        return re.findall(r'"([^"]*)"', m.group(1)) if m else []

    name, version = value("name"), value("version")
    lines = ["Metadata-Version: 2.1", f"Name: {name}", f"Version: {version}", f"Summary: {value('description')}",
             f"Requires-Python: {value('requires-python')}"]
    lines += [f"Requires-Dist: {d}" for d in strings("dependencies")]
    extras = text.split("[project.optional-dependencies]", 1)[1].split("\n[", 1)[0] if "[project.optional" in text else ""
    for extra in re.findall(r"^(\w+)\s*=\s*\[", extras, re.M):
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in strings(extra)]
    lines.append("Description-Content-Type: text/markdown")
    with open(os.path.join(HERE, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    return name, version, "\n".join(lines) + "\n\n" + readme


def _tag():
    return "py3-none-" + re.sub(r"[-.]", "_", sysconfig.get_platform())


def _run(command):
    print("nxtka build:", " ".join(command), flush=True)
    if subprocess.run(command, stdout=sys.stderr).returncode != 0:
        raise BuildError(f"building the nxtka library failed at: {' '.join(command)} (its output is above)")


def build_library(directory):
    """Configures the repository root into ``directory`` (unless done before), builds ``nxtka``; the library's path."""
    if not os.path.exists(os.path.join(ROOT, "CMakeLists.txt")) or not os.path.isdir(os.path.join(ROOT, "src")):
        raise BuildError(f"the library's sources are not beside this package (no CMakeLists.txt in {ROOT}): "
                         "build from the python/ directory of the nxtka repository")
    cmake = shutil.which("cmake")
    if cmake is None:
        raise BuildError("building the nxtka library needs CMake and a C++20 compiler, but cmake is not on PATH "
                         "(Debian: apt install cmake ninja-build g++)")
    if not os.path.exists(os.path.join(directory, "CMakeCache.txt")):
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        _run([cmake, "-S", ROOT, "-B", directory, *generator, "-DCMAKE_BUILD_TYPE=Release",
              "-DNXTKA_BUILD_TESTS=OFF", "-DNXTKA_BUILD_BENCH=OFF", "-DNXTKA_BUILD_TOOLS=OFF"])
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    _run([cmake, "--build", directory, "--target", "nxtka", "-j", jobs])
    built = os.path.join(directory, LIBRARY_FILE)
    if not os.path.exists(built):
        raise BuildError(f"CMake finished but {built} is not there")
    return os.path.realpath(built)


def _files(library):
    """``[(path in the wheel, bytes)]`` of the package's modules and the library."""
    found = []
    source = os.path.join(HERE, PACKAGE)
    for entry in sorted(os.listdir(source)):
        if entry.endswith(".py") or entry == "py.typed":
            with open(os.path.join(source, entry), "rb") as f:
                found.append((f"{PACKAGE}/{entry}", f.read()))
    with open(library, "rb") as f:
        found.append((f"{PACKAGE}/{LIBRARY_FILE}", f.read()))
    return found


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _dist_info(name, version, metadata):
    info = f"{name}-{version}.dist-info"
    wheel = f"Wheel-Version: 1.0\nGenerator: nxtka_backend\nRoot-Is-Purelib: false\nTag: {_tag()}\n"
    return info, [(f"{info}/METADATA", metadata.encode()), (f"{info}/WHEEL", wheel.encode()),
                  (f"{info}/top_level.txt", f"{PACKAGE}\n".encode())]


# ---------------------------------------------------------------- the hooks pip calls

def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    name, version, metadata = _project()
    info, files = _dist_info(name, version, metadata)
    for path, data in files:
        target = os.path.join(metadata_directory, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
    return info


def build_sdist(sdist_directory, config_settings=None):
    raise BuildError("no source distribution: the package is built from the repository, whose library sources "
                     "it would lack; build a wheel (pip wheel ./python)")


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name, version, metadata = _project()
    kept = os.environ.get("NXTKA_BUILD_DIR")
    try:
        if kept:
            library = build_library(os.path.abspath(kept))
            files = _files(library)
        else:
            with tempfile.TemporaryDirectory(prefix="nxtka-build-") as scratch:
                files = _files(build_library(scratch))
    except BuildError as e:
        print(f"\nnxtka build: {e}\n", file=sys.stderr, flush=True)
        raise
    info, meta = _dist_info(name, version, metadata)
    files += meta
    wheel_name = f"{name}-{version}-{_tag()}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files:
            wheel.writestr(_entry(path), data)
        record = [_record_line(path, data) for path, data in files] + [f"{info}/RECORD,,"]
        wheel.writestr(_entry(f"{info}/RECORD"), "\n".join(record) + "\n")
    return wheel_name


def _entry(path):
    entry = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
    entry.external_attr = 0o644 << 16
    entry.compress_type = zipfile.ZIP_DEFLATED
    return entry

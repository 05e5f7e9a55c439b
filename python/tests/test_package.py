"""The package as a user meets it: ``python -m nxtka monitor`` and ``pip install``."""

import os
import shutil
import subprocess
import sys

from conftest import ROOT

PACKAGE = os.path.join(ROOT, "python")


def run_python(args, env_changes=(), cwd=None, timeout=60):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["PYTHONPATH"] = PACKAGE
    env.update(env_changes)
    return subprocess.run([sys.executable, *args], env=env, cwd=cwd, capture_output=True, text=True, timeout=timeout)


def test_monitor_saves_a_png_without_a_display(simulator, tmp_path):
    sim = simulator("--rate", "100", "--value", "0.5")
    png = tmp_path / "values.png"
    r = run_python(["-m", "nxtka", "monitor", "--port", "7", "--device", sim.device, "--seconds", "1", "--png", str(png)])
    assert r.returncode == 0, r.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    count = int(r.stdout.split()[0])
    assert count > 0
    # 0.5 is 3995074.56 steps of 1.05 / 2^23: read back as 0.50000005
    assert "min +0.500000, max +0.500000" in r.stdout, r.stdout


def test_monitor_refusals(tmp_path):
    rows = [
        # (arguments, exit status, words on stderr)
        (["monitor", "--device", "/nonexistent/ttyNX8"], 2, "give --png FILE"),
        (["monitor", "--port", "8", "--device", "/nonexistent/ttyNX8", "--png", str(tmp_path / "x.png")], 1,
         "cannot open /nonexistent/ttyNX8: No such file or directory"),
    ]
    for args, status, words in rows:
        r = run_python(["-m", "nxtka", *args])
        assert (r.returncode, words in r.stderr) == (status, True), (args, r.stderr)
    assert not (tmp_path / "x.png").exists()


def test_pip_installs_the_package_with_the_system_setuptools(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    target = tmp_path / "target"
    r = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index", "-q",
         "--target", str(target), str(source)],
        capture_output=True, text=True, timeout=120,
    )
    assert r.returncode == 0, r.stderr
    # the library next to the package, or by the system's loader, when NXTKA_LIBRARY is not set
    built = os.environ["NXTKA_LIBRARY"]
    beside = target / "nxtka" / "libnxtka.so.1"
    without = {k: v for k, v in os.environ.items() if k != "NXTKA_LIBRARY"}
    show = "import nxtka; print(nxtka.__file__); print(nxtka.library()._name); print(nxtka.version()[:2])"
    rows = [
        ({"LD_LIBRARY_PATH": os.path.dirname(built)}, None, "libnxtka.so.1"),
        ({}, beside, str(beside)),
    ]
    for env_changes, copy_to, loaded in rows:
        if copy_to:
            shutil.copy(built, copy_to)
        probe = subprocess.run([sys.executable, "-c", show], env={**without, "PYTHONPATH": str(target), **env_changes},
                               cwd=str(tmp_path), capture_output=True, text=True, timeout=60)
        assert probe.returncode == 0, probe.stderr
        assert probe.stdout.splitlines() == [str(target / "nxtka" / "__init__.py"), loaded, "(1, 53)"]

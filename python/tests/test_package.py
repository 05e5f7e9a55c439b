"""The package as a user meets it: ``python -m nxtka monitor`` and a wheel with the library inside."""

import os
import subprocess
import sys
import sysconfig

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


def test_wheel_carries_the_library_and_installs_offline_into_a_venv(tmp_path):
    built = os.path.abspath(os.environ["NXTKA_LIBRARY"])
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "NXTKA_LIBRARY")}
    # the build directory of the library under test is brought up to date, not built anew
    env.setdefault("NXTKA_BUILD_DIR", os.path.dirname(built))
    wheels = tmp_path / "wheels"
    r = subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-deps", "--no-index", "-q", "-w", str(wheels),
                        PACKAGE], env=env, capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stderr
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    (wheel,) = wheels.iterdir()
    assert wheel.name == f"nxtka-1.53.0-py3-none-{platform}.whl"

    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", "--system-site-packages", str(venv)], check=True,
                   timeout=120)
    python = str(venv / "bin" / "python")
    r = subprocess.run([sys.executable, "-m", "pip", "--python", python, "install", "--no-deps", "--no-index", "-q",
                        str(wheel)], env=env, capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    site = subprocess.run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"], env=env,
                          capture_output=True, text=True, check=True).stdout.strip()
    inside = os.path.join(site, "nxtka", "libnxtka.so.1")
    show = "import nxtka; print(nxtka.__file__); print(nxtka.library()._name); print(nxtka.version()[:2])"
    rows = [
        ({}, inside),  # the library inside the package
        ({"NXTKA_LIBRARY": built}, built),  # NXTKA_LIBRARY comes first
    ]
    for env_changes, loaded in rows:
        probe = subprocess.run([python, "-c", show], env={**env, **env_changes}, cwd=str(tmp_path),
                               capture_output=True, text=True, timeout=60)
        assert probe.returncode == 0, probe.stderr
        assert probe.stdout.splitlines() == [os.path.join(site, "nxtka", "__init__.py"), loaded, "(1, 53)"]

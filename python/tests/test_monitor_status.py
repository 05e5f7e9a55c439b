"""``python -m nxtka monitor`` ends with the exit status of the nxtka tool: 3 when it measured nothing."""

import os
import subprocess
import sys


def test_monitor_of_a_silent_amplifier_exits_3(simulator, tmp_path):
    sim = simulator("--rate", "0")
    png = tmp_path / "values.png"
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    r = subprocess.run(
        [sys.executable, "-m", "nxtka", "monitor", "--port", "9", "--device", sim.device, "--seconds", "0.5",
         "--png", str(png)],
        env=env, capture_output=True, text=True, timeout=60,
    )
    assert r.returncode == 3, r.stderr
    assert r.stdout.startswith("0 values in "), r.stdout

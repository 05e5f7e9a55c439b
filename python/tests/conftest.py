"""Fixtures: the simulated amplifier program on a pseudo-terminal, and a fresh port number per use.

NXTKA_LIBRARY, NXTKA_SIM and NXTKA_TOOL name the library, the simulator and
the command-line tool of the build under test; without them the default
build directory of the checkout is used.
"""

import itertools
import os
import select
import signal
import subprocess
import sys
import time

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "python"))
os.environ.setdefault("NXTKA_LIBRARY", os.path.join(ROOT, "build", "default", "libnxtka.so.1"))
SIM = os.environ.get("NXTKA_SIM", os.path.join(ROOT, "build", "default", "sim", "nxtka-sim"))
TOOL = os.environ.get("NXTKA_TOOL", os.path.join(ROOT, "build", "default", "tools", "nxtka"))

_ports = itertools.count(300)


class Simulator:
    """A running ``nxtka-sim``; ``device`` is its pseudo-terminal."""

    def __init__(self, *options):
        self.process = subprocess.Popen(
            [SIM, *options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL
        )
        text = b""
        deadline = time.monotonic() + 10
        while b"ready\n" not in text and time.monotonic() < deadline:
            if select.select([self.process.stdout], [], [], 0.1)[0]:
                chunk = os.read(self.process.stdout.fileno(), 4096)
                if not chunk:
                    break
                text += chunk
        lines = dict(line.lstrip("# ").split(": ", 1) for line in text.decode().splitlines() if ": " in line)
        if b"ready\n" not in text or "device" not in lines:
            self.kill()
            raise RuntimeError(f"the simulator did not start: {text!r}")
        self.device = lines["device"]

    def kill(self):
        """Ends the simulator at once: its side of the line hangs up."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait()
        self.process.stdout.close()


@pytest.fixture
def simulator():
    """Starts simulators with the given options; all are killed after the test."""
    started = []

    def start(*options):
        sim = Simulator(*options)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.kill()


@pytest.fixture
def port():
    """A port number no other test uses."""
    return next(_ports)

"""nxtka.mqtt: the batch layouts read from bytes written out by hand, and the
values of ``nxtka publish`` read back through a mosquitto of the test's own."""

import json
import os
import shutil
import socket
import subprocess
import time

import numpy as np
import pytest

from conftest import TOOL
from nxtka import mqtt

MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"

# docs/mqtt.md: 0.5 and -1.0, status 0 and 3, session 1, first 7, times 1000 and 2000 ns.
EXAMPLE = bytes(
    [1, 0, 0, 0, 2, 0, 0, 0]
    + [1, 0, 0, 0, 0, 0, 0, 0]
    + [7, 0, 0, 0, 0, 0, 0, 0]
    + [0xE8, 3, 0, 0, 0, 0, 0, 0, 0xD0, 7, 0, 0, 0, 0, 0, 0]
    + [0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0xBF]
    + [0, 3]
)


def test_both_layouts_decode_to_the_same_arrays():
    as_json = json.dumps(
        {"format": "nxtka-batch 1", "session": 1, "first": 7, "count": 2,
         "times": [1000, 2000], "values": [0.5, -1.0], "statuses": [0, 3]}
    ).encode()
    for payload in (EXAMPLE, as_json):
        session, first, times, values, statuses = mqtt.decode_batch(payload)
        assert (session, first) == (1, 7)
        assert times.tolist() == [1000, 2000] and times.dtype == np.int64
        assert values.tolist() == [0.5, -1.0]
        assert statuses.tolist() == [0, 3]
    for bad in (EXAMPLE[:-1], EXAMPLE + b"\0", b"\2" + EXAMPLE[1:], b""):
        with pytest.raises(ValueError):
            mqtt.decode_batch(bad)


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def broker(tmp_path):
    if not os.path.exists(MOSQUITTO):
        pytest.skip("no mosquitto")
    port = _free_port()
    conf = tmp_path / "mosquitto.conf"
    conf.write_text(f"listener {port} 127.0.0.1\nallow_anonymous true\n")
    process = subprocess.Popen([MOSQUITTO, "-c", str(conf)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            if time.monotonic() > deadline:
                process.kill()
                raise RuntimeError("mosquitto did not start")
            time.sleep(0.05)
    yield port
    process.terminate()
    process.wait()


def test_subscribe_yields_every_published_value_once(broker, simulator, tmp_path):
    pytest.importorskip("paho.mqtt.client")
    sim = simulator("--rate", "200", "--waveform", "sine")
    (tmp_path / "gw.toml").write_text(
        f'[broker]\nport = {broker}\nprefix = "py"\n[publish]\ninterval_ms = 50\n'
        f'[[amplifier]]\nname = "left"\ndevice = "{sim.device}"\n'
    )
    batches = mqtt.subscribe("py/#", port=broker, timeout=8)
    gateway = subprocess.Popen(
        [TOOL, "publish", str(tmp_path / "gw.toml"), "--json", "--seconds", "2"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tmp_path,
    )
    got = []
    published = None
    for batch in batches:  # until all the gateway read came, or 8 s of silence
        got.append(batch)
        if published is None and gateway.poll() is not None:
            out, err = gateway.communicate()
            assert gateway.returncode == 0, err
            published = json.loads(out)["amplifiers"][0]["values"]
        if published is not None and sum(len(b.values) for b in got) >= published:
            break
    if published is None:
        out, err = gateway.communicate(timeout=30)
        assert gateway.returncode == 0, err
        published = json.loads(out)["amplifiers"][0]["values"]
    assert published > 200
    assert {b.amplifier for b in got} == {"left"}
    sequences = np.concatenate([b.sequences for b in got])
    assert sequences.tolist() == list(range(published))
    times = np.concatenate([b.times for b in got])
    assert np.all(np.diff(times) >= 0)
    assert all(b.gap is None for b in got)
    assert all(np.array_equal(b.scaled, b.values) for b in got)  # normalized: factor 1, offset 0


def test_remote_settings_are_applied_and_answered(broker, simulator, tmp_path):
    paho = pytest.importorskip("paho.mqtt.client")
    sim = simulator("--rate", "50")
    (tmp_path / "gw.toml").write_text(
        f'[broker]\nport = {broker}\nprefix = "py"\n[publish]\nremote_settings = true\n'
        f'[[amplifier]]\nname = "left"\ndevice = "{sim.device}"\n'
    )
    gateway = subprocess.Popen(
        [TOOL, "publish", str(tmp_path / "gw.toml"), "--seconds", "20"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tmp_path,
    )
    import queue

    got = queue.Queue()
    client = paho.Client()
    client.on_message = lambda _c, _u, m: got.put((m.topic, json.loads(m.payload)))
    client.connect("127.0.0.1", broker)
    client.subscribe([("py/left/info", 1), ("py/left/set/result", 1)])
    client.loop_start()

    stash = {}

    def next_on(topic):
        """The next message on the topic; those on others are kept for later."""
        while not stash.get(topic):
            t, doc = got.get(timeout=15)
            stash.setdefault(t, []).append(doc)
        return stash[topic].pop(0)

    try:
        info = next_on("py/left/info")
        assert info["snapshot"]["settings"]["gain"] == "0"
        model = info["snapshot"]["identity"]["model"]
        # From another model: refused, nothing written.
        client.publish("py/left/set", json.dumps(
            {"format": "nxtka-settings 1", "identity": {"model": model + 1}, "settings": {"gain": "5"}}), qos=1)
        refused = next_on("py/left/set/result")
        assert refused["ok"] is False and "model" in refused["error"]
        # Then a document of this model: written, read back, the info anew.
        client.publish("py/left/set", json.dumps(
            {"format": "nxtka-settings 1", "identity": {"model": model}, "settings": {"gain": "5", "no-such": "1"}}),
            qos=1)
        result = next_on("py/left/set/result")
        outcomes = {item["setting"]: item["outcome"] for item in result["settings"]}
        assert outcomes["gain"] == "written, holds"
        assert outcomes["no-such"] == "unknown"  # reported, not fatal
        assert next_on("py/left/info")["snapshot"]["settings"]["gain"] == "5"
    finally:
        client.loop_stop()
        gateway.terminate()
        gateway.communicate(timeout=30)

"""Port against the simulated amplifier on a pseudo-terminal.

Expected numbers come from the amplifier's encodings: measured values and
levels on the normalized scale (1.05 end of scale) travel bipolar as
offset-binary with 2^23 steps of 1.05 / 2^23 (24 bits) or 2^15 steps of
1.05 / 2^15 (16 bits); the simulator starts bipolar (control word 40).
"""

import select

import numpy as np
import pytest

import nxtka
from nxtka import Failure

STEP_24 = 1.05 / 2**23  # one step of a 24-bit bipolar value
STEP_16 = 1.05 / 2**15  # one step of a 16-bit bipolar level


def test_context_manager_activates_and_releases(simulator, port):
    sim = simulator("--level", "3", "--firmware", "0x0C11", "--rate", "0")
    amp = nxtka.Port(port, device=sim.device, ring=100)
    assert not amp.active
    with amp as inside:
        assert inside is amp and amp.active
        assert nxtka.device_name(port) == sim.device
        assert (amp.model, amp.firmware, amp.serial) == (3, 0x0C11, "12345678")
    assert not amp.active
    with pytest.raises(nxtka.NotActiveError) as e:
        amp.gain
    assert (e.value.failure, e.value.reason) == (Failure.NOT_ACTIVE, "port not active")
    # the port can be activated again after release
    with amp:
        assert amp.model == 3


def test_values_come_as_arrays(simulator, port):
    sim = simulator("--rate", "200", "--value", "0.25", "--status", "0x5A")
    with nxtka.Port(port, device=sim.device) as amp:
        values = amp.wait_for_values(20, timeout=5)
        assert values.dtype == np.float64 and values.ndim == 1 and len(values) == 20
        # 0.25 is 1997537.28 steps: stored as 1997537, read back within half a step
        assert np.all(np.abs(values - 0.25) <= STEP_24 / 2 + 1e-12)

        assert amp.wait(5)
        values, statuses = amp.read_values(3, status=True)
        assert 1 <= len(values) <= 3 and statuses.dtype == np.uint8
        assert statuses.tolist() == [0x5A] * len(values)
        # single values: from the iterator and with their status
        assert abs(next(iter(amp)) - 0.25) <= STEP_24 / 2 + 1e-12
        assert amp.wait(5)
        value, status = amp.read_status()
        assert abs(value - 0.25) <= STEP_24 / 2 + 1e-12 and status == 0x5A
        # a port is a waitable object: its descriptor is readable while values wait
        assert select.select([amp], [], [], 5)[0] == [amp]


# (setting path, value written, value expected back, tolerance)
READ_BACK = [
    ("gain", 5, 5, 0),  # control word
    ("mode.text", True, True, 0),  # operating modes
    ("threshold", (0.5, 0.25), (0.5, 0.25), STEP_16 / 2),  # threshold pairs
    ("bridge.type", 3, 3, 0),  # bridge and strain gauges
    ("gage_factor", 2.05, 2.05, 0.005),
    ("tx_mode.transmit4", True, True, 0),  # transmission
    ("slow_rate", 500, 500, 0),
    ("delta", 0.25, 0.25, STEP_24 / 2 + 1e-12),  # 1997537.28 steps, sent as 1997537
    ("special_mode.filter", True, True, 0),  # special modes
    ("noise_cut", 0.5, 0.5, STEP_24 / 2 + 1e-12),
    ("analog_filter", 10.5, 10.5, 0),  # filters
    ("learn_values", 1000, 1000, 0),
    ("can.baud", 125000, 125000, 0),  # CAN
    ("user_offset", 0.1, 0.1, STEP_24 / 2 + 1e-12),  # sensor and user data
    ("capacity", 1234.5, 1234.5, 1e-9),
    ("serial", "NX000042", "NX000042", 0),
    ("display.digits", 5, 5, 0),  # display
    ("display.unit", 7, 7, 0),
    ("polarity", "unipolar", "unipolar", 0),  # last: the levels above are bipolar
]

# Whole words after one flag was set on a zero word: only the flag's bit.
WORDS_AFTER = [("mode", 0x02), ("tx_mode", 0x02), ("special_mode", 0x04)]


def _resolve(amp, path):
    *groups, name = path.split(".")
    target = amp
    for group in groups:
        target = getattr(target, group)
    return target, name


def test_one_setting_of_each_family_reads_back(simulator, port):
    sim = simulator("--rate", "0")
    with nxtka.Port(port, device=sim.device) as amp:
        for path, written, expected, tolerance in READ_BACK:
            target, name = _resolve(amp, path)
            setattr(target, name, written)
            back = getattr(target, name)
            if isinstance(expected, str):
                assert back == expected, (path, back)
            else:
                assert np.allclose(back, expected, rtol=0, atol=tolerance), (path, back)
            assert type(back) is type(expected) or isinstance(expected, tuple), (path, type(back))
        for group, word in WORDS_AFTER:
            assert int(getattr(amp, group)) == word and getattr(amp, group) == word, group
        amp.mode = 0x41  # assigning a number writes the whole word
        assert (amp.mode.value, amp.mode.si, amp.mode.text, amp.mode.linear) == (0x41, True, False, True)


# Settings the amplifier cannot report: (name, a value it takes, a value refused before anything is sent)
WRITE_ONLY = [
    ("transmit", False, "off"),
    ("transmit", True, 2),
    ("switch", True, "on"),
    ("max_value", 0, 5),
    ("user_text", "hello", "x" * 257),
]


def test_write_only_settings_take_their_values_and_refuse_others(simulator, port):
    sim = simulator("--rate", "0")
    with nxtka.Port(port, device=sim.device) as amp:
        for name, taken, refused in WRITE_ONLY:
            setattr(amp, name, taken)
            with pytest.raises(ValueError):
                setattr(amp, name, refused)


def test_read_values_takes_what_waits_and_wait_for_values_waits(simulator, port):
    sim = simulator("--rate", "0", "--value", "0.25")  # values only on request
    with nxtka.Port(port, device=sim.device) as amp:
        assert amp.read_values(100).tolist() == []
        for _ in range(3):
            amp.request_value()
        values = amp.wait_for_values(3, timeout=5)
        assert len(values) == 3 and np.all(np.abs(values - 0.25) <= STEP_24 / 2 + 1e-12)


# The sampling-rate word: protocol in bits 22-23 (3: frequency in steps of 0.5
# and the factor itself; 0: timer reload against 5 MHz and the factor as a
# power of two), factor field in bits 16-21, frequency in bits 0-15.
# (protocol, factor field and frequency in the amplifier, rate read, value assigned, rate read back)
RATES = [
    # 200 x 0.5 = 100 Hz, factor 4; 250 Hz alone keeps the factor: F = 500
    (3, 4 << 16 | 200, (100.0, 4), 250, (250.0, 4)),
    # a pair sets both: F = 21, factor field 7
    (3, 4 << 16 | 200, (100.0, 4), (10.5, 7), (10.5, 7)),
    # 5 MHz / (65536 - 55536) = 500 Hz; exponent 31 has no factor (-1), so 400 Hz
    # alone takes factor 1: reload 65536 - 5e6 / 400 = 53036
    (0, 31 << 16 | 55536, (500.0, -1), 400, (400.0, 1)),
]


@pytest.mark.parametrize("protocol, word, before, assigned, after", RATES)
def test_rate_takes_a_frequency_alone_or_with_a_factor(simulator, port, protocol, word, before, assigned, after):
    sim = simulator("--rate", "0", "--sampling-protocol", str(protocol), "--register", f"ReadSamplingRate={word}")
    with nxtka.Port(port, device=sim.device) as amp:
        assert amp.rate == before and amp.sampling_factor == before[1]
        amp.rate = assigned
        assert amp.rate == after


# (options of the simulator, group, its repr with the port number as {})
REPRS = [
    (("--mode", "65"), "mode", "<mode of port {}: 0x41 (si, linear)>"),
    (("--mode", "0"), "mode", "<mode of port {}: 0x00 (no flag set)>"),
    (("--register", "GetBridge=0x13"), "bridge", "<bridge of port {}: 0x13 type=3 (internal)>"),
]


@pytest.mark.parametrize("options, group, text", REPRS)
def test_groups_show_their_word_and_flags_and_have_no_truth_value(simulator, port, options, group, text):
    sim = simulator("--rate", "0", *options)
    with nxtka.Port(port, device=sim.device) as amp:
        assert repr(getattr(amp, group)) == text.format(port)
        with pytest.raises(TypeError):
            bool(getattr(amp, group))


def test_memory_moves_arrays_of_bytes(simulator, port):
    sim = simulator("--rate", "0", "--memory", "14:48656c6c6f21")
    with nxtka.Port(port, device=sim.device) as amp:
        # 14..19 start and end inside words: partial words at both ends
        assert amp.read_memory(14, 6).tobytes() == b"Hello!"
        amp.write_memory(41, b"\x0a\x0b\x0c")
        back = amp.read_memory(40, 5)
        assert back.dtype == np.uint8 and back.tolist() == [0, 10, 11, 12, 0]
        data, status = amp.read_memory_word(16)
        assert (data.tobytes(), status) == (b"llo!", 0)
        assert amp.check_memory(12, count=8).tolist() == [0] * 8


LINEAR_AMP = ("--rate", "0", "--level", "5", "--options", "0x80")  # range 1: extra record (0, -1)


def test_linearization_table_written_and_read_back(simulator, port):
    sim = simulator(*LINEAR_AMP)
    points = np.array([[0.0, 0.0], [0.5, 0.25], [1.0, 1.0]])
    with nxtka.Port(port, device=sim.device) as amp:
        assert amp.probe_linear() == (True, 18)  # the layout without a header holds 18 points
        amp.check_linear_table(points, (0, -1))
        assert len(amp.read_linear_table()[0]) == 0  # a check writes nothing
        amp.write_linear_table(points[::-1], (0, -1), sort=True)
        back, extra = amp.read_linear_table()
        # 16-bit points: a step of 1.05 / 2^15 = 3.204345703125e-5
        assert back.shape == (3, 2) and np.allclose(back, points, rtol=0, atol=3.3e-5)
        assert extra == (0.0, -1.0)


# (points, expected code, index of the point named)
BAD_TABLES = [
    ([[0, 0], [0.5, 0.6], [0.4, 0.7]], 0x1501, 1),  # input falls from point 1 to 2
    ([[0, 0], [0.5, 0.5], [0.7, 0.4]], 0x1601, 1),  # output falls from point 1 to 2
    ([[0, 0], [0.5, 1.2], [1, 1.3]], 0x1201, 1),  # 1.2 / 3.204345703125e-5 + 32768 = 70217 > 65535
    ([[0.5, 0.5]], 0x0C00, None),  # a single point
]


@pytest.mark.parametrize("points, code, index", BAD_TABLES)
def test_refused_tables_raise_with_code_and_point(simulator, port, points, code, index):
    sim = simulator(*LINEAR_AMP)
    with nxtka.Port(port, device=sim.device) as amp:
        for operation in (amp.check_linear_table, amp.write_linear_table):
            with pytest.raises(nxtka.LinearTableError) as e:
                operation(points, (0, -1))
            assert (e.value.code, e.value.point) == (code, index)
            assert f"0x{code:X}: " in str(e.value)


def test_writes_read_back_unless_told(simulator, port):
    # bit 0 of the byte written to 41, and to 4 (the high byte of point 1's
    # input: 0.5 / 3.204345703125e-5 + 32768 = 48371.8 -> 0xBCF4), flips on the line
    sim = simulator(*LINEAR_AMP, "--flip-written", "41", "--flip-written", "4")
    points = [[0, 0], [0.5, 0.25], [1, 1]]
    with nxtka.Port(port, device=sim.device) as amp:
        with pytest.raises(nxtka.MemoryTransferError) as e:
            amp.write_memory(40, b"\x0a\x0b")
        assert (e.value.address, e.value.failure) == (41, nxtka.Failure.ANSWER)
        amp.write_memory(40, b"\x0a\x0b", verify=False)
        assert amp.read_memory(40, 2).tolist() == [0x0A, 0x0A]
        with pytest.raises(nxtka.LinearTableError) as e:
            amp.write_linear_table(points, (0, -1))
        assert e.value.code == 0x2000 and "address 4 holds 0xBD, 0xBC was written" in str(e.value)
        amp.write_linear_table(points, (0, -1), verify=False)


def test_failures_raise_with_the_library_reason(simulator, port):
    sim = simulator("--rate", "0", "--silent", "GetMode")
    amp = nxtka.Port(port, device=sim.device)
    other = nxtka.Port(port + 500, device="/nonexistent/ttyNX9")
    rows = [
        (lambda: setattr(amp, "gain", 9), nxtka.ArgumentError, Failure.ARGUMENT, "argument refused: 9 outside 0..7"),
        (lambda: amp.mode.value, nxtka.NoAnswerError, Failure.TIMEOUT,
         "no answer from the amplifier within the time-out"),
        (amp.activate, nxtka.AlreadyActiveError, Failure.ALREADY_ACTIVE, "port already active or being activated"),
        (lambda: nxtka.Port(1024).gain, nxtka.PortRangeError, Failure.PORT_RANGE, "port number out of range (0..1023)"),
        (other.activate, nxtka.DeviceError, Failure.DEVICE, "cannot open /nonexistent/ttyNX9: No such file or directory"),
    ]
    with amp:
        for call, kind, failure, reason in rows:
            with pytest.raises(kind) as e:
                call()
            assert isinstance(e.value, nxtka.NxtkaError)
            assert (e.value.failure, e.value.reason) == (failure, reason)
            assert reason in str(e.value)


def test_value_iterator_ends_with_an_exception_on_hang_up(simulator, port):
    sim = simulator("--rate", "100")
    with nxtka.Port(port, device=sim.device) as amp:
        blocks = amp.blocks(timeout=5)
        first = next(blocks)
        assert len(first) >= 1
        sim.kill()
        with pytest.raises(nxtka.LineFailedError) as e:
            for _ in blocks:
                pass
        assert e.value.failure == Failure.DEVICE
        assert e.value.reason.startswith("device failed while reading")
        with pytest.raises(nxtka.LineFailedError):
            amp.read()

"""Values with arrival time and sequence number, the ring's drop count, and scaled values.

The simulator sends a constant 0.25 (24-bit bipolar: within half a step of
1.05 / 2^23 of it). Its sensor data, set as raw answers: input range 20 in
tenths = 2.0 mV/V; rated output 0x012625A0 = 10^(1-1) x 2500000 / 10^6 =
2.5 mV/V; capacity 0x040F4240 = 10^(4-1) x 1000000 / 10^6 = 1000.
"""

import time

import numpy as np
import pytest

import nxtka
from nxtka.units import Scale

STEP_24 = 1.05 / 2**23
SENSOR = ("--value", "0.25", "--register", "GetRange=20", "--register", "GetSensorCapacity=0x040F4240",
          "--register", "GetRatedOutput=0x012625A0")


def test_timed_values_carry_arrival_times_and_consecutive_numbers(simulator, port):
    sim = simulator("--rate", "200", *SENSOR)
    before = time.time_ns()
    with nxtka.Port(port, device=sim.device) as amp:
        block = amp.wait_for_timed(20, timeout=5)
        after = time.time_ns()
        assert len(block) == 20 and block.unit == "normalized"
        assert (block.values.dtype, block.statuses.dtype, block.times.dtype, block.sequences.dtype) == (
            np.float64, np.uint8, np.dtype("datetime64[ns]"), np.uint64)
        # numbered from activation on, none lost
        assert block.sequences.tolist() == list(range(20)) and block.gaps == [] and block.missing == 0
        ns = block.times.astype(np.int64)
        assert before <= ns[0] and ns[-1] <= after and np.all(np.diff(ns) >= 0)
        assert np.all(np.abs(block.values - 0.25) <= STEP_24 / 2 + 1e-12)
        assert amp.dropped_values == 0
        assert "sequences 0..19 (no gap)" in repr(block)


def test_values_the_full_ring_dropped_show_as_a_gap(simulator, port):
    sim = simulator("--rate", "200", *SENSOR)
    with nxtka.Port(port, device=sim.device, ring=50) as amp:
        first = amp.wait_for_timed(10, timeout=5)  # 50 ms of values: the ring of 50 is far from full
        time.sleep(1.5)  # about 300 values come meanwhile
        later = amp.read_timed()
        dropped = amp.dropped_values
        assert len(later) == 50 and dropped >= 100
        both = nxtka.timed.TimedValues.concatenate([first, later])
        # the ring keeps the newest, numbered without a gap; the ones it dropped are missing before them
        assert later.gaps == [] and later.sequences[-1] - later.sequences[0] == 49
        assert both.missing == dropped and both.gaps[-1] == (first.sequences[-1] + 1, dropped - first.missing)
        assert f"{dropped} missing in {len(both.gaps)} gaps" in repr(both)


# (scale_for arguments, unit, the scaled 0.25 computed by hand, tolerance: half a step scaled)
SCALES = [
    ({"unit": "normalized"}, "normalized", 0.25, STEP_24 / 2),
    ({"unit": "mV/V"}, "mV/V", 0.25 * 2.0, 2.0 * STEP_24 / 2),  # times the input range
    # range / rated output x capacity = 2.0 / 2.5 x 1000 = 800 kg at normalized 1
    ({"unit": "sensor", "unit_name": "kg"}, "kg", 200.0, 800 * STEP_24 / 2),
    ({"unit": "sensor"}, "sensor", 200.0, 800 * STEP_24 / 2),  # without a unit name
    # the line through (0, 10) and (1, 510) overrides the unit: 0.25 x 500 + 10
    ({"unit": "sensor", "unit_name": "N", "points": ((0, 10), (1, 510))}, "N", 135.0, 500 * STEP_24 / 2),
    ({"points": ((0, 10), (1, 510))}, "scaled", 135.0, 500 * STEP_24 / 2),
]


@pytest.mark.parametrize("arguments, unit, expected, tolerance", SCALES)
def test_scaled_values_from_the_sensor_data(simulator, port, arguments, unit, expected, tolerance):
    sim = simulator("--rate", "100", *SENSOR)
    with nxtka.Port(port, device=sim.device) as amp:
        scale = amp.scale_for(**arguments)
        assert scale.unit == unit
        timed = amp.wait_for_timed(5, timeout=5, scale=scale)
        plain = amp.wait_for_values(5, timeout=5, scale=scale)
        assert amp.wait(5)
        values, statuses = amp.read_values(5, status=True, scale=scale)
        assert timed.unit == unit and len(timed) == 5 and len(plain) == 5 and len(values) == len(statuses) >= 1
        for array in (timed.values, plain, values):
            assert array.dtype == np.float64
            assert np.all(np.abs(array - expected) <= tolerance + 1e-9), array


# (simulator options, scale_for arguments, the words of the ValueError)
REFUSED_SCALES = [
    ((), {"unit": "mV/V"}, "input range is 0"),  # the simulator's range is 0 at start
    (SENSOR, {"unit": "mV/V", "unit_name": "N"}, "a unit name goes with"),
    (("--register", "GetRange=20"), {"unit": "sensor", "unit_name": "N"}, "rated output is 0, not a scale"),
    (("--register", "GetRange=20", "--register", "GetRatedOutput=0x012625A0"), {"unit": "sensor"},
     "sensor capacity is 0"),
    ((), {"unit": "V"}, "not 'V'"),
    ((), {"points": ((1, 0), (1, 5))}, "different normalized values"),
]


@pytest.mark.parametrize("options, arguments, words", REFUSED_SCALES)
def test_scales_without_their_numbers_are_refused(simulator, port, options, arguments, words):
    sim = simulator("--rate", "0", *options)
    with nxtka.Port(port, device=sim.device) as amp:
        with pytest.raises(ValueError) as e:
            amp.scale_for(**arguments)
        assert words in str(e.value)


def test_a_scale_is_a_line():
    scale = Scale.two_point(((0.5, 100), (1.0, 300)), "N")  # 400 N per 1, 100 - 200 = -100 at 0
    assert (scale.factor, scale.offset, scale.unit) == (400.0, -100.0, "N")
    assert scale(np.array([0.0, 0.25, 1.05])).tolist() == [-100.0, 0.0, 320.0]
    assert str(scale) == "400 N at normalized 1, offset -100 (two points 0.5=100,1=300)"

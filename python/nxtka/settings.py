"""The amplifier's settings as attributes of a port, named after the command-line tool's settings.

A tool setting ``noise-cut`` is ``amp.noise_cut``; one whose first word
names a group is in the group: ``mode-linear`` is ``amp.mode.linear``,
``display-unit`` is ``amp.display.unit``, ``mode`` is ``amp.mode``.
Each attribute's docstring names the exports it calls.
"""

from __future__ import annotations

from .descriptors import (
    ChoiceSetting,
    ClearSetting,
    FlagSetting,
    IntSetting,
    PairSetting,
    RateSetting,
    RealOutSetting,
    RealSetting,
    SwitchSetting,
    TextSetting,
)
from .groups import (
    BridgeSettings,
    CanSettings,
    DisplaySettings,
    EquipmentSettings,
    GroupSetting,
    ModeSettings,
    OptionsSettings,
    SpecialModeSettings,
    TxModeSettings,
)


class Settings:
    """The settings of the amplifier on the port ``_port`` (a mixin of :class:`~nxtka.Port`)."""

    __slots__ = ()

    # identification and capability words
    model = IntSetting("TKAmodel", None, "Protocol level of the amplifier, learned at activation.")
    firmware = IntSetting("TKAfirmwareVersion", None, "Firmware version (0..65535).")
    serial = TextSetting("TKAgetSerialNo", "NXwriteSerialNo", "Serial number, 8 characters (a factory setting).",
                         size=8, exact=True)
    device_type = IntSetting("TKAgetDeviceType", None, "Device type (0..255).")
    last_error = IntSetting("TKAgetLastError", None, "The amplifier's last error code.")
    options = GroupSetting(OptionsSettings)
    equipment = GroupSetting(EquipmentSettings)
    # the line and the value stream
    baud = IntSetting("TKAgetLocalBaudRate", None, "Line speed of the computer's port, bit/s.")
    amp_baud = IntSetting("TKAgetBaudRate", "TKAsetBaudRate",
                          "The amplifier's line speed in bit/s (activate again with that speed afterwards).")
    amp_baud_index = IntSetting("TKAgetBaud", "TKAsetBaud", "The amplifier's line speed as its table index.")
    received = FlagSetting("TKAreceived", None, "True while measured values wait in the ring.")
    flushes = FlagSetting("NXinternalStatus", None, "True when the device can flush its output.")
    transmit = SwitchSetting(None, "TKAstartTransmit/TKAstopTransmit",
                             "The value stream on (True) or off (False); either drops the values waiting.")
    max_value = ClearSetting(None, "TKAclearMaxValue", "Assigning 0 clears the amplifier's stored maximum.")
    # control word, gain, polarity, channel, sampling frequency
    control = IntSetting("TKAgetControl", "TKAwriteControl",
                         "Control word (24 bits); writing does not change the library's polarity.")
    gain = IntSetting("TKAgetGain", "TKAsetGain", "Gain step 0..7.")
    polarity = ChoiceSetting("TKAisBipol", "TKAsetBipolar/TKAsetUnipolar",
                             "Input polarity, 'bipolar' or 'unipolar'; assigning switches the amplifier and the "
                             "conversion of values.", choices=("bipolar", "unipolar"))
    channel = IntSetting("TKAgetChannel", "TKAsetChannel", "Selected input channel.")
    frequency = RealSetting("TKAgetFreq", "TKAsetFreq",
                            "Sampling frequency in Hz (through the control word's divisor).")
    # operating modes, switch
    mode = GroupSetting(ModeSettings)
    switch = FlagSetting(None, "TKAswitch", "The amplifier's switch: on (True) or off (False).")
    # adjustment values
    scale = IntSetting("TKAgetScale", "TKAwriteScale", "Scale value (raw, 3 bytes).")
    zero = IntSetting("TKAgetZero", "TKAwriteZero", "Zero value (raw, 3 bytes).")
    offset = IntSetting("TKAgetOffset", "TKAwriteOffset", "Offset value (raw, 2 bytes).")
    cal = RealSetting("NXgetCal", "NXsetCal", "Calibration factor (above 0.99999997).")
    offset_wait = RealSetting("NXgetOffsetWait", "NXsetOffsetWait", "Offset waiting time in s (0 to below 1.5841).")
    # thresholds
    threshold = PairSetting("TKAgetThreshold", "TKAsetThreshold",
                            "The first threshold pair (upper, lower) on the normalized scale.")
    second_threshold = PairSetting("TKAgetSecondThreshold", "TKAsetSecondThreshold",
                                   "The second threshold pair (upper, lower) on the normalized scale.")
    # bridge, strain-gauge factors, input range
    bridge = GroupSetting(BridgeSettings)
    gage_factor = RealSetting("TKAgetGageFactor", "TKAsetGageFactor", "Gage factor, 0 to 655.35 in steps of 0.01.")
    poisson = RealSetting("TKAgetPoisson", "TKAsetPoisson", "Poisson ratio, 0 to 0.51 in steps of 0.002.")
    range = RealSetting("TKAgetRange", "NXwriteRange", "Input range.")
    # sampling rate
    rate = RateSetting("TKAreadSamplingRate", "TKAwriteSamplingRate",
                       "Sampling rate as (frequency in Hz, factor); assigning a frequency alone keeps the factor.")
    sampling_frequency = RealSetting("TKAreadSamplingFrequency", None, "Frequency of the sampling-rate word, Hz.")
    sampling_factor = IntSetting("TKAreadSamplingFactor", None,
                                 "Factor of the sampling-rate word (-1: the amplifier's factor field has no value).")
    sampling_frequency_linear = FlagSetting("TKAisSamplingFrequencyProtocolLinear", None,
                                            "True when the amplifier encodes the frequency linearly.")
    sampling_factor_linear = FlagSetting("TKAisSamplingFactorProtocolLinear", None,
                                         "True when the amplifier encodes the factor linearly.")
    # transmission modes and rates
    tx_mode = GroupSetting(TxModeSettings)
    slow_rate = IntSetting("TKAgetSlowRate", "TKAsetSlowRate", "Slow transmission rate 1..65535.")
    delta = RealOutSetting("TKAgetTransmissionDelta", "TKAsetTransmissionDelta",
                           "Transmission delta on the normalized scale.")
    # special modes, sleep, auto-zero counter, noise cut
    special_mode = GroupSetting(SpecialModeSettings)
    sleep = FlagSetting("TKAgetSpecialModeSleep", "TKAsetSpecialModeSleep",
                        "Sleep after release (bit 6 of the special mode, kept by the library; needs the sleep option).")
    auto_zero_counter = IntSetting("TKAgetAutoZeroCounter", "TKAsetAutoZeroCounter", "Auto-zero counter 1..65535.")
    noise_cut = RealSetting("TKAgetNoiseCutThreshold", "TKAsetNoiseCutThreshold",
                            "Noise-cut threshold on the normalized scale.")
    # analog and adaptive filters
    analog_filter = RealSetting("TKAgetAnalogFilter", "TKAsetAnalogFilter",
                                "Analog filter, 0.5..32767.5 in steps of 0.5.")
    learn_values = IntSetting("TKAgetAdaptFilterLearnVals", "TKAsetAdaptFilterLearnVals",
                              "Adaptive filter: learn values 0..65535.")
    adapt_mask = IntSetting("TKAgetAdaptFilterMask", "TKAsetAdaptFilterMask", "Adaptive filter: mask 0xFFxx00.")
    adapt_threshold = RealOutSetting("TKAgetAdaptFilterThreshold", "TKAsetAdaptFilterThreshold",
                                     "Adaptive filter: threshold on the unipolar normalized scale.")
    # CAN interface
    can = GroupSetting(CanSettings)
    # sensor and user data
    user_offset = RealOutSetting("TKAgetUserOffset", "TKAsetUserOffset", "User offset on the normalized scale.")
    user_text = TextSetting(None, "TKAsetUserText", "User text, up to 256 characters (Latin-1).", size=256,
                            exact=False)
    capacity = RealOutSetting("TKAgetSensorCapacity", "TKAsetSensorCapacity", "Sensor capacity 0.1..9999999.")
    rated_output = RealOutSetting("TKAgetRatedOutput", "TKAsetRatedOutput",
                                  "Sensor rated output 0.001..350 (takes the input range's decimal exponent).")
    # device memory
    memory_wait = RealSetting("TKAgetMemoryWait", None, "The amplifier's settling time after memory writes, s.")
    # display settings
    display = GroupSetting(DisplaySettings)

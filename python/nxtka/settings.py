"""The amplifier's settings and procedures as Python names: one table each.

``SETTINGS`` rows are ``(group, name, getter, setter, kind, doc)``: ``group``
is "" for a property of :class:`~nxtka.Port` itself, else the name of a
property that returns a group object (``amp.mode.text``); ``getter`` and
``setter`` are export names (None: not readable / not writable here).
Kinds: ``int`` (an answer; -1 is failure), ``bool`` (a bit; set with 0/1),
``real`` (a double; -1.0 is failure) and ``real_out`` (a getter that writes
a double through a pointer and returns 0).

``ACTIONS`` rows are ``(group, name, export, arguments, result, doc)``: a
method that calls ``export`` with the port and ``arguments``; ``result`` is
``none`` (returns None), ``bool`` or ``int``.
"""

import ctypes

from ._library import library
from .errors import check, error_for

SETTINGS = (
    # identification and capability words
    ("", "model", "TKAmodel", None, "int", "Protocol level of the amplifier, learned at activation."),
    ("", "firmware", "TKAfirmwareVersion", None, "int", "Firmware version (0..65535)."),
    ("", "device_type", "TKAgetDeviceType", None, "int", "Device type (0..255)."),
    ("", "last_error", "TKAgetLastError", None, "int", "The amplifier's last error code."),
    ("", "local_baud_rate", "TKAgetLocalBaudRate", None, "int", "Line speed of the computer's port, bit/s."),
    ("", "received", "TKAreceived", None, "bool", "True while measured values wait in the ring."),
    ("", "flushes", "NXinternalStatus", None, "bool", "True when the device can flush its output."),
    ("options", "value", "TKAgetOptions", "NXwriteOptions", "int", "Options word (24 bits); writing is a factory setting."),
    ("options", "code", "TKAgetOptionsCode", None, "int", "Bits 0-5 of the options word."),
    ("options", "extension3", "TKAgetOptionsExtension3", None, "bool", "Extended frequency divisor (bit 6)."),
    ("options", "linear", "TKAgetOptionsLinear", None, "bool", "Linearization option (bit 7)."),
    ("options", "extension21", "TKAgetOptionsExtension21", None, "bool", "Option bit 8."),
    ("options", "sleep_mode", "TKAgetOptionsSleepMode", None, "bool", "Sleep-mode option (bit 9)."),
    ("options", "command_test", "TKAgetOptionsCommandTest", None, "bool", "Command-test option (bit 10)."),
    ("equipment", "value", "TKAgetEquipment", "NXwriteEquipment", "int", "Equipment word (8 bits); writing is a factory setting."),
    ("equipment", "lcd", "TKAhasLCD", None, "bool", "The amplifier has a display."),
    ("equipment", "adc", "TKAhasADC", None, "bool", "Equipment bit ADC."),
    ("equipment", "uii", "TKAhasUII", None, "bool", "The amplifier has a user interface."),
    ("equipment", "si", "TKAisSI", None, "bool", "Equipment bit SI."),
    ("equipment", "wl", "TKAisWL", None, "bool", "Equipment bit WL."),
    ("equipment", "af", "TKAhasAF", None, "bool", "Equipment bit AF."),
    # control word, gain, polarity, channel, sampling frequency
    ("", "control", "TKAgetControl", "TKAwriteControl", "int", "Control word (24 bits); writing does not change the library's polarity."),
    ("", "gain", "TKAgetGain", "TKAsetGain", "int", "Gain step 0..7."),
    ("", "channel", "TKAgetChannel", "TKAsetChannel", "int", "Selected input channel."),
    ("", "frequency", "TKAgetFreq", "TKAsetFreq", "real", "Sampling frequency in Hz (through the control word's divisor)."),
    # operating modes
    ("mode", "value", "TKAgetMode", "TKAsetMode", "int", "Mode byte 0..255."),
    ("mode", "si", "TKAgetModeSI", "TKAsetModeSI", "bool", "Mode flag SI (bit 0)."),
    ("mode", "text", "TKAgetModeText", "TKAsetModeText", "bool", "Mode flag text values (bit 1)."),
    ("mode", "max", "TKAgetModeMax", "TKAsetModeMax", "bool", "Mode flag maximum (bit 2)."),
    ("mode", "log", "TKAgetModeLog", "TKAsetModeLog", "bool", "Mode flag log (bit 3)."),
    ("mode", "window", "TKAgetModeWindow", "TKAsetModeWindow", "bool", "Mode flag window (bit 4)."),
    ("mode", "average", "TKAgetModeAverage", "TKAsetModeAverage", "bool", "Mode flag average (bit 5)."),
    ("mode", "linear", "TKAgetModeLinear", "TKAsetModeLinear", "bool", "Mode flag linearization (bit 6)."),
    ("mode", "lock", "TKAgetModeLock", None, "bool", "Mode flag settings lock (bit 7); see Port.set_mode_lock."),
    # adjustment values
    ("", "scale", "TKAgetScale", "TKAwriteScale", "int", "Scale value (raw, 3 bytes)."),
    ("", "zero", "TKAgetZero", "TKAwriteZero", "int", "Zero value (raw, 3 bytes)."),
    ("", "offset", "TKAgetOffset", "TKAwriteOffset", "int", "Offset value (raw, 2 bytes)."),
    ("", "calibration_factor", "NXgetCal", "NXsetCal", "real", "Calibration factor (above 0.99999997)."),
    ("", "offset_wait", "NXgetOffsetWait", "NXsetOffsetWait", "real", "Offset waiting time in s (0 to below 1.5841)."),
    # bridge, strain-gauge factors, input range
    ("bridge", "value", "TKAgetBridge", "TKAsetBridge", "int", "Bridge word 0..255."),
    ("bridge", "type", "TKAgetBridgeType", "TKAsetBridgeType", "int", "Bridge type 0..7."),
    ("bridge", "internal", "TKAgetBridgeInternal", "TKAsetBridgeInternal", "bool", "Internal bridge (bit 4)."),
    ("", "gage_factor", "TKAgetGageFactor", "TKAsetGageFactor", "real", "Gage factor, 0 to 655.35 in steps of 0.01."),
    ("", "poisson", "TKAgetPoisson", "TKAsetPoisson", "real", "Poisson ratio, 0 to 0.51 in steps of 0.002."),
    ("", "range", "TKAgetRange", "NXwriteRange", "real", "Input range."),
    # sampling rate
    ("", "sampling_frequency", "TKAreadSamplingFrequency", None, "real", "Frequency of the sampling-rate word, Hz."),
    ("", "sampling_factor", "TKAreadSamplingFactor", None, "int", "Factor of the sampling-rate word."),
    ("", "sampling_frequency_linear", "TKAisSamplingFrequencyProtocolLinear", None, "bool",
     "True when the amplifier encodes the frequency linearly."),
    ("", "sampling_factor_linear", "TKAisSamplingFactorProtocolLinear", None, "bool",
     "True when the amplifier encodes the factor linearly."),
    # transmission modes and rates
    ("tx_mode", "value", "TKAgetTxMode", "TKAsetTxMode", "int", "Transmission-mode byte 0..255."),
    ("tx_mode", "config", "TKAgetTxModeConfig", None, "bool", "Transmission flag config (bit 0)."),
    ("tx_mode", "transmit4", "TKAgetTxModeTransmit4", "TKAsetTxModeTransmit4", "bool", "Transmission flag transmit4 (bit 1)."),
    ("tx_mode", "repeat3", "TKAgetTxModeRepeat3", "TKAsetTxModeRepeat3", "bool", "Transmission flag repeat3 (bit 2)."),
    ("tx_mode", "transmit5", "TKAgetTxModeTransmit5", "TKAsetTxModeTransmit5", "bool", "Transmission flag transmit5 (bit 3)."),
    ("tx_mode", "read_only", "TKAgetTxModeReadOnly", "TKAsetTxModeReadOnly", "bool", "Transmission flag read-only (bit 4)."),
    ("", "baud", "TKAgetBaud", "TKAsetBaud", "int", "The amplifier's line speed as a table index (reactivate afterwards)."),
    ("", "baud_rate", "TKAgetBaudRate", "TKAsetBaudRate", "int", "The amplifier's line speed in bit/s (reactivate afterwards)."),
    ("", "slow_rate", "TKAgetSlowRate", "TKAsetSlowRate", "int", "Slow transmission rate 1..65535."),
    ("", "transmission_delta", "TKAgetTransmissionDelta", "TKAsetTransmissionDelta", "real_out",
     "Transmission delta on the normalized scale."),
    # special modes, auto-zero counter, noise cut
    ("special_mode", "value", "TKAgetSpecialMode", "TKAsetSpecialMode", "int", "Special-mode word 0..65535."),
    ("special_mode", "slow", "TKAgetSpecialModeSlow", "TKAsetSpecialModeSlow", "bool", "Special flag slow (bit 0)."),
    ("special_mode", "average", "TKAgetSpecialModeAverage", "TKAsetSpecialModeAverage", "bool", "Special flag average (bit 1)."),
    ("special_mode", "filter", "TKAgetSpecialModeFilter", "TKAsetSpecialModeFilter", "bool", "Special flag filter (bit 2)."),
    ("special_mode", "max", "TKAgetSpecialModeMax", "TKAsetSpecialModeMax", "bool", "Special flag maximum (bit 3)."),
    ("special_mode", "filter_auto", "TKAgetSpecialModeFilterAuto", "TKAsetSpecialModeFilterAuto", "bool",
     "Special flag automatic filter (bit 4)."),
    ("special_mode", "filter_order5", "TKAgetSpecialModeFilterOrder5", "TKAsetSpecialModeFilterOrder5", "bool",
     "Special flag filter of order 5 (bit 5)."),
    ("special_mode", "sleep", "TKAgetSpecialModeSleep", "TKAsetSpecialModeSleep", "bool",
     "Sleep after release (bit 6, kept by the library)."),
    ("special_mode", "auto_zero", "TKAgetSpecialModeAutoZero", "TKAsetSpecialModeAutoZero", "bool",
     "Special flag auto-zero (bit 14)."),
    ("special_mode", "noise_cut", "TKAgetSpecialModeNoiseCut", "TKAsetSpecialModeNoiseCut", "bool",
     "Special flag noise cut (bit 15)."),
    ("", "auto_zero_counter", "TKAgetAutoZeroCounter", "TKAsetAutoZeroCounter", "int", "Auto-zero counter 1..65535."),
    ("", "noise_cut_threshold", "TKAgetNoiseCutThreshold", "TKAsetNoiseCutThreshold", "real",
     "Noise-cut threshold on the normalized scale."),
    # analog and adaptive filters
    ("", "analog_filter", "TKAgetAnalogFilter", "TKAsetAnalogFilter", "real", "Analog filter, 0.5..32767.5 in steps of 0.5."),
    ("adapt_filter", "learn_values", "TKAgetAdaptFilterLearnVals", "TKAsetAdaptFilterLearnVals", "int",
     "Adaptive filter: learn values 0..65535."),
    ("adapt_filter", "mask", "TKAgetAdaptFilterMask", "TKAsetAdaptFilterMask", "int", "Adaptive filter mask 0xFFxx00."),
    ("adapt_filter", "threshold", "TKAgetAdaptFilterThreshold", "TKAsetAdaptFilterThreshold", "real_out",
     "Adaptive filter threshold on the unipolar normalized scale."),
    # CAN interface
    ("can", "available", "TKAisCanAvailable", None, "bool", "The amplifier has a CAN interface."),
    ("can", "baud", "TKAgetCanBaud", "TKAsetCanBaud", "int", "CAN bit rate as index 1..8."),
    ("can", "baud_rate", "TKAgetCanBaudRate", "TKAsetCanBaudRate", "int", "CAN bit rate in bit/s."),
    ("can", "active", "TKAgetCanActive", "TKAsetCanActive", "bool", "CAN interface active."),
    ("can", "mode_20b", "TKAgetCanMode20B", "TKAsetCanMode20B", "bool", "CAN 2.0B mode with 29-bit identifiers."),
    # sensor and user data
    ("", "user_offset", "TKAgetUserOffset", "TKAsetUserOffset", "real_out", "User offset on the normalized scale."),
    ("", "sensor_capacity", "TKAgetSensorCapacity", "TKAsetSensorCapacity", "real_out", "Sensor capacity 0.1..9999999."),
    ("", "rated_output", "TKAgetRatedOutput", "TKAsetRatedOutput", "real_out", "Sensor rated output 0.001..350."),
    # device memory
    ("", "memory_wait", "TKAgetMemoryWait", None, "real", "The amplifier's settling time after memory writes, s."),
    # display settings
    ("display", "unit", "TKADispGetUnit", "TKADispSetUnit", "int", "Unit code of the display."),
    ("display", "digits", "TKADispGetDigits", "TKADispSetDigits", "int", "Digits of the display 1..255."),
    ("display", "point", "TKADispGetDPoint", "TKADispSetDPoint", "int", "Decimal exponent of the display (read back)."),
    ("display", "norm", "TKADispGetNorm", "TKADispSetNorm", "real", "Display norm (read back; text values divide by it)."),
)

ACTIONS = (
    ("", "initialize", "TKAinitialize", (), "none", "Identifies the amplifier again after its settings changed."),
    ("", "flush", "TKAflushBuffer", (), "bool", "Drops the waiting values in step with the amplifier; True if some were dropped."),
    ("", "clear_buffer", "TKAclearBuffer", (), "none", "Clears the amplifier's buffer and the library's input."),
    ("", "stop_transmit", "TKAstopTransmit", (), "none", "Stops the value stream and drops what waits."),
    ("", "start_transmit", "TKAstartTransmit", (), "none", "Starts the value stream and drops what waits."),
    ("", "clear_max_value", "TKAclearMaxValue", (), "none", "Resets the amplifier's maximum value."),
    ("", "request_value", "TKAgetValue", (), "none", "Asks for one value; it arrives as any other value."),
    ("", "reset_status", "TKAresetStatus", (), "none", "Resets the amplifier's status."),
    ("", "load_settings", "TKAgetAll", ("number",), "none", "Loads the amplifier's stored setting number `number`."),
    ("", "save_settings", "TKAsaveAll", ("number",), "none", "Saves the amplifier's settings as number `number`."),
    ("", "calibrate", "TKAsetCal", (), "bool", "Runs the calibration; True when the amplifier came back within 5 s."),
    ("", "adjust_zero", "TKAsetZero", (), "bool", "Runs the zero adjustment; True when the amplifier came back within 5 s."),
    ("", "adjust_scale", "TKAsetScale", (), "bool", "Runs the scale adjustment; True when the amplifier came back within 5 s."),
    ("", "adjust_offset", "TKAsetOffset", (), "bool", "Runs the offset adjustment; True when the amplifier came back within 5 s."),
    ("", "switch", "TKAswitch", ("on",), "none", "Switches the amplifier on (True) or off (False)."),
    ("", "lock_interface", "TKAlockUII", (), "int", "Locks the amplifier's user interface; the answer byte (1: locked)."),
    ("", "unlock_interface", "TKAunlockUII", (), "none", "Unlocks the amplifier's user interface."),
    ("", "is_command_available", "TKAisCommandAvailable", ("first", "second"), "bool",
     "True when the amplifier has the commands `first` and `second`."),
    ("", "set_user_text_char", "TKAsetUserTextChar", ("index", "character"), "none",
     "Writes one character (its low byte) of the 256-cell user text."),
    ("", "write_range_raw", "NXwriteRanges", ("first", "second", "value"), "none",
     "Writes range-table entry first/second raw (0..0xFFFFFF)."),
    ("", "set_range_entry", "TKAsetRanges", ("first", "second", "value"), "none",
     "Writes range-table entry first/second as a number (0.01 to 83886.07 in magnitude)."),
    ("can", "setting", "TKAgetCanSetting", ("index",), "int", "The 16-bit CAN setting `index`."),
    ("can", "set_setting", "TKAsetCanSetting", ("index", "value"), "none", "Writes the 16-bit CAN setting `index`."),
    ("can", "id", "TKAgetCanID", ("index",), "int", "The 32-bit CAN identifier at `index`."),
    ("can", "set_id", "TKAsetCanID", ("index", "identifier"), "none", "Writes the 32-bit CAN identifier at `index`."),
    ("display", "calc_norm", "TKADispCalcNorm", (), "none", "Has the amplifier compute its display norm."),
)

#: Docstrings of the groups of settings.
GROUPS = {
    "options": "The options word and its bits.",
    "equipment": "The equipment word and its bits.",
    "mode": "The operating-mode byte (``value``) and its flags.",
    "bridge": "The bridge word, its type and the internal-bridge bit.",
    "tx_mode": "The transmission-mode byte and its flags.",
    "special_mode": "The special-mode word and its flags.",
    "adapt_filter": "The adaptive filter.",
    "can": "The CAN interface.",
    "display": "The amplifier's own display.",
}


def call_real(function, port, *arguments):
    """Calls a double-valued export; -1.0 is a failure."""
    return check(function, getattr(library(), function)(port, *arguments), -1.0)


def _getter(function, kind):
    def get(port):
        if kind == "real":
            return call_real(function, port)
        if kind == "real_out":
            out = ctypes.c_double()
            check(function, getattr(library(), function)(port, ctypes.byref(out)))
            return out.value
        value = check(function, getattr(library(), function)(port))
        return bool(value) if kind == "bool" else value

    return get


def _setter(function, kind):
    def put(port, value):
        if kind == "bool":
            value = 1 if value else 0
        elif kind in ("real", "real_out"):
            value = float(value)
        else:
            value = int(value)
        check(function, getattr(library(), function)(port, value))

    return put


def setting_property(name, getter, setter, kind, doc, port_of):
    """A property for one row of ``SETTINGS``; ``port_of(obj)`` gives the port number."""
    get = _getter(getter, kind) if getter else None
    put = _setter(setter, kind) if setter else None
    fget = (lambda self: get(port_of(self))) if get else None
    fset = (lambda self, value: put(port_of(self), value)) if put else None
    access = "read and write" if get and put else ("read only" if get else "write only")
    return property(fget, fset, doc=f"{doc} ({access}; {getter or ''}{'/' if getter and setter else ''}{setter or ''})")


def action_method(name, function, arguments, result, doc):
    """A method for one row of ``ACTIONS``; the object's ``_port`` is the port number."""

    def method(self, *values):
        if len(values) != len(arguments):
            raise TypeError(f"{name}() takes {len(arguments)} argument(s) ({', '.join(arguments)})")
        r = getattr(library(), function)(self._port, *values)
        if r == -1:
            raise error_for(function)
        if result == "bool":
            return bool(r)
        return r if result == "int" else None

    method.__name__ = name
    method.__doc__ = f"{doc} (calls {function})"
    return method


class Group:
    """A group of settings of one port (``amp.mode``, ``amp.display``, ...)."""

    def __init__(self, port):
        self._port = port

    def __repr__(self):
        return f"<{type(self).__name__} of port {self._port}>"


def _make_group(group):
    attributes = {"__doc__": GROUPS[group], "__module__": __name__}
    for g, name, getter, setter, kind, doc in SETTINGS:
        if g == group:
            attributes[name] = setting_property(name, getter, setter, kind, doc, lambda obj: obj._port)
    for g, name, function, arguments, result, doc in ACTIONS:
        if g == group:
            attributes[name] = action_method(name, function, arguments, result, doc)
    if "value" in attributes:
        attributes["__int__"] = lambda self: self.value
        attributes["__index__"] = lambda self: self.value
        attributes["__eq__"] = lambda self, other: self.value == other if isinstance(other, int) else NotImplemented
        attributes["__hash__"] = None
    cls = type("".join(p.capitalize() for p in group.split("_")) + "Settings", (Group,), attributes)
    return cls


#: The group classes by group name.
GROUP_CLASSES = {name: _make_group(name) for name in GROUPS}


def install(cls):
    """Adds the properties, methods and group properties of the tables to ``cls`` (the Port class)."""
    for g, name, getter, setter, kind, doc in SETTINGS:
        if not g:
            setattr(cls, name, setting_property(name, getter, setter, kind, doc, lambda port: port._port))
    for g, name, function, arguments, result, doc in ACTIONS:
        if not g:
            setattr(cls, name, action_method(name, function, arguments, result, doc))
    for group, group_cls in GROUP_CLASSES.items():
        setattr(cls, group, _group_property(group, group_cls))
    return cls


def _group_property(group, group_cls):
    value_row = next((r for r in SETTINGS if r[0] == group and r[1] == "value"), None)
    put = _setter(value_row[3], value_row[4]) if value_row and value_row[3] else None
    fset = (lambda self, value: put(self._port, value)) if put else None
    doc = GROUPS[group] + (" Assigning a number writes the whole word." if fset else "")
    return property(lambda self: group_cls(self._port), fset, doc=doc)

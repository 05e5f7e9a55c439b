"""Settings that belong together, reached through one attribute of a port (``amp.mode.text``, ``amp.display.unit``).

A group whose word has flags reads as that word: ``int(amp.mode)``,
``amp.mode == 0x41``; assigning a number to the port's attribute
(``amp.mode = 0x41``) writes the word. A group has no truth value: ask for
the word or a flag.
"""

from __future__ import annotations

from typing import Any, Generic, Iterator, Optional, Type, TypeVar, overload

from ._library import library
from .descriptors import FlagSetting, IntSetting, RealSetting, Setting
from .errors import NxtkaError

G = TypeVar("G", bound="Group")


class Group:
    """Settings of one port that belong together."""

    __slots__ = ("_port",)
    #: The port's attribute that gives this group.
    attribute = ""

    def __init__(self, port: int) -> None:
        self._port = port

    @classmethod
    def settings(cls) -> Iterator[Setting[Any]]:
        """The group's settings in the order of their declaration."""
        for klass in reversed(cls.__mro__):
            for member in vars(klass).values():
                if isinstance(member, Setting):
                    yield member

    def __repr__(self) -> str:
        try:
            shown = self._describe()
        except NxtkaError as e:
            shown = f"not readable ({e.reason or e})"
        return f"<{self.attribute} of port {self._port}: {shown}>"

    def _describe(self) -> str:
        parts, flags, has_flags = [], [], False
        for setting in self.settings():
            if setting.getter is None:
                continue
            value = setting.read(self._port)
            if isinstance(setting, FlagSetting):
                has_flags = True
                if value:
                    flags.append(setting.name)
            elif setting.name == "value":
                parts.append(f"0x{value:02X}")
            else:
                parts.append(f"{setting.name}={value}")
        if has_flags:
            parts.append(f"({', '.join(flags)})" if flags else "(no flag set)")
        return " ".join(parts)

    def __bool__(self) -> bool:
        raise TypeError(f"the truth of amp.{self.attribute} is ambiguous: ask for its value or one of its flags")


class Word(Group):
    """A group around one word of the amplifier (``value``) and its bits."""

    __slots__ = ()

    def __int__(self) -> int:
        return self.value  # type: ignore[attr-defined]

    def __index__(self) -> int:
        return self.value  # type: ignore[attr-defined]

    def __eq__(self, other: object) -> bool:
        if isinstance(other, int):
            return bool(self.value == other)  # type: ignore[attr-defined]
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]


class GroupSetting(Generic[G]):
    """The port's attribute that gives the group ``cls``; assigning a number writes the group's word."""

    def __init__(self, cls: Type[G]) -> None:
        self.cls = cls
        self.__doc__ = (cls.__doc__ or "") + (" Assigning a number writes the whole word." if self.writable else "")

    @property
    def writable(self) -> bool:
        """True when the group's word can be written."""
        value = getattr(self.cls, "value", None)
        return isinstance(value, Setting) and value.setter is not None

    @overload
    def __get__(self, obj: None, owner: Optional[type] = None) -> GroupSetting[G]: ...

    @overload
    def __get__(self, obj: object, owner: Optional[type] = None) -> G: ...

    def __get__(self, obj: Any, owner: Optional[type] = None) -> Any:
        if obj is None:
            return self
        return self.cls(obj._port)

    def __set__(self, obj: Any, value: int) -> None:
        if not self.writable:
            raise AttributeError(f"{self.cls.attribute} is read only")
        setattr(self.cls(obj._port), "value", value)


class OptionsSettings(Word):
    """The options word and its bits."""

    __slots__ = ()
    attribute = "options"
    value = IntSetting("TKAgetOptions", "NXwriteOptions", "Options word (24 bits); writing is a factory setting.")
    code = IntSetting("TKAgetOptionsCode", None, "Bits 0-5 of the options word.")
    extension3 = FlagSetting("TKAgetOptionsExtension3", None, "Extended frequency divisor (bit 6).")
    linear = FlagSetting("TKAgetOptionsLinear", None, "Linearization option (bit 7).")
    extension21 = FlagSetting("TKAgetOptionsExtension21", None, "Option bit 8.")
    sleep_mode = FlagSetting("TKAgetOptionsSleepMode", None, "Sleep-mode option (bit 9).")
    command_test = FlagSetting("TKAgetOptionsCommandTest", None, "Command-test option (bit 10).")


class EquipmentSettings(Word):
    """The equipment word and its bits."""

    __slots__ = ()
    attribute = "equipment"
    value = IntSetting("TKAgetEquipment", "NXwriteEquipment", "Equipment word (8 bits); writing is a factory setting.")
    lcd = FlagSetting("TKAhasLCD", None, "The amplifier has a display.")
    adc = FlagSetting("TKAhasADC", None, "Equipment bit ADC.")
    uii = FlagSetting("TKAhasUII", None, "The amplifier has a user interface.")
    si = FlagSetting("TKAisSI", None, "Equipment bit SI.")
    wl = FlagSetting("TKAisWL", None, "Equipment bit WL.")
    af = FlagSetting("TKAhasAF", None, "Equipment bit AF.")


class ModeSettings(Word):
    """The operating-mode byte (``value``) and its flags."""

    __slots__ = ()
    attribute = "mode"
    value = IntSetting("TKAgetMode", "TKAsetMode", "Mode byte 0..255.")
    si = FlagSetting("TKAgetModeSI", "TKAsetModeSI", "Mode flag SI (bit 0).")
    text = FlagSetting("TKAgetModeText", "TKAsetModeText", "Mode flag text values (bit 1).")
    max = FlagSetting("TKAgetModeMax", "TKAsetModeMax", "Mode flag maximum (bit 2).")
    log = FlagSetting("TKAgetModeLog", "TKAsetModeLog", "Mode flag log (bit 3).")
    window = FlagSetting("TKAgetModeWindow", "TKAsetModeWindow", "Mode flag window (bit 4).")
    average = FlagSetting("TKAgetModeAverage", "TKAsetModeAverage", "Mode flag average (bit 5).")
    linear = FlagSetting("TKAgetModeLinear", "TKAsetModeLinear", "Mode flag linearization (bit 6).")
    lock = FlagSetting("TKAgetModeLock", None, "Mode flag settings lock (bit 7); see Port.set_mode_lock.")


class BridgeSettings(Word):
    """The bridge word, its type and the internal-bridge bit."""

    __slots__ = ()
    attribute = "bridge"
    value = IntSetting("TKAgetBridge", "TKAsetBridge", "Bridge word 0..255.")
    type = IntSetting("TKAgetBridgeType", "TKAsetBridgeType", "Bridge type 0..7.")
    internal = FlagSetting("TKAgetBridgeInternal", "TKAsetBridgeInternal", "Internal bridge (bit 4).")


class TxModeSettings(Word):
    """The transmission-mode byte and its flags."""

    __slots__ = ()
    attribute = "tx_mode"
    value = IntSetting("TKAgetTxMode", "TKAsetTxMode", "Transmission-mode byte 0..255.")
    config = FlagSetting("TKAgetTxModeConfig", None, "Transmission flag config (bit 0).")
    transmit4 = FlagSetting("TKAgetTxModeTransmit4", "TKAsetTxModeTransmit4", "Transmission flag transmit4 (bit 1).")
    repeat3 = FlagSetting("TKAgetTxModeRepeat3", "TKAsetTxModeRepeat3", "Transmission flag repeat3 (bit 2).")
    transmit5 = FlagSetting("TKAgetTxModeTransmit5", "TKAsetTxModeTransmit5", "Transmission flag transmit5 (bit 3).")
    read_only = FlagSetting("TKAgetTxModeReadOnly", "TKAsetTxModeReadOnly", "Transmission flag read-only (bit 4).")


class SpecialModeSettings(Word):
    """The special-mode word and its flags (bit 6, sleep after release, is ``amp.sleep``)."""

    __slots__ = ()
    attribute = "special_mode"
    value = IntSetting("TKAgetSpecialMode", "TKAsetSpecialMode", "Special-mode word 0..65535.")
    slow = FlagSetting("TKAgetSpecialModeSlow", "TKAsetSpecialModeSlow", "Special flag slow (bit 0).")
    average = FlagSetting("TKAgetSpecialModeAverage", "TKAsetSpecialModeAverage", "Special flag average (bit 1).")
    filter = FlagSetting("TKAgetSpecialModeFilter", "TKAsetSpecialModeFilter", "Special flag filter (bit 2).")
    max = FlagSetting("TKAgetSpecialModeMax", "TKAsetSpecialModeMax", "Special flag maximum (bit 3).")
    filter_auto = FlagSetting("TKAgetSpecialModeFilterAuto", "TKAsetSpecialModeFilterAuto",
                              "Special flag automatic filter (bit 4).")
    filter_order5 = FlagSetting("TKAgetSpecialModeFilterOrder5", "TKAsetSpecialModeFilterOrder5",
                                "Special flag filter of order 5 (bit 5).")
    auto_zero = FlagSetting("TKAgetSpecialModeAutoZero", "TKAsetSpecialModeAutoZero", "Special flag auto-zero (bit 14).")
    noise_cut = FlagSetting("TKAgetSpecialModeNoiseCut", "TKAsetSpecialModeNoiseCut", "Special flag noise cut (bit 15).")


class CanSettings(Group):
    """The CAN interface."""

    __slots__ = ()
    attribute = "can"
    available = FlagSetting("TKAisCanAvailable", None, "The amplifier has a CAN interface.")
    baud = IntSetting("TKAgetCanBaudRate", "TKAsetCanBaudRate", "CAN bit rate in bit/s.")
    baud_index = IntSetting("TKAgetCanBaud", "TKAsetCanBaud", "CAN bit rate as the table index 1..8.")
    active = FlagSetting("TKAgetCanActive", "TKAsetCanActive", "CAN interface active.")
    mode_20b = FlagSetting("TKAgetCanMode20B", "TKAsetCanMode20B", "CAN 2.0B mode with 29-bit identifiers.",
                           tool="can-20b")

    def setting(self, index: int) -> int:
        """The 16-bit CAN setting ``index``."""
        return int(library().TKAgetCanSetting(self._port, index))

    def set_setting(self, index: int, value: int) -> None:
        """Writes the 16-bit CAN setting ``index`` (1..255 except 128)."""
        library().TKAsetCanSetting(self._port, index, value)

    def id(self, index: int) -> int:
        """The 32-bit CAN identifier at ``index``."""
        return int(library().TKAgetCanID(self._port, index))

    def set_id(self, index: int, identifier: int) -> None:
        """Writes the 32-bit CAN identifier at ``index``."""
        library().TKAsetCanID(self._port, index, identifier)


class DisplaySettings(Group):
    """The amplifier's own display."""

    __slots__ = ()
    attribute = "display"
    unit = IntSetting("TKADispGetUnit", "TKADispSetUnit", "Unit code of the display.")
    digits = IntSetting("TKADispGetDigits", "TKADispSetDigits", "Digits of the display 1..255.")
    point = IntSetting("TKADispGetDPoint", "TKADispSetDPoint", "Decimal exponent of the display (read back).")
    norm = RealSetting("TKADispGetNorm", "TKADispSetNorm", "Display norm (read back; text values divide by it).")

    def calc_norm(self) -> None:
        """Has the amplifier compute its display norm (drops the values measured before)."""
        library().TKADispCalcNorm(self._port)


#: The group classes by the port attribute that gives them.
GROUP_CLASSES = {cls.attribute: cls for cls in (OptionsSettings, EquipmentSettings, ModeSettings, BridgeSettings,
                                               TxModeSettings, SpecialModeSettings, CanSettings, DisplaySettings)}

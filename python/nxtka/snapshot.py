"""Every setting of an amplifier as a dict, and that dict written back (methods of :class:`~nxtka.Port`).

>>> with nxtka.Port(3, device="/dev/ttyUSB0") as amp:
...     json.dump(amp.snapshot(), open("amp.json", "w"), indent=2)
>>> with nxtka.Port(4, device="/dev/ttyUSB1") as other:
...     report = other.restore(json.load(open("amp.json")))   # raises RestoreError when one differs
...     print(report)

The dict is the command-line tool's settings file (``nxtka get all --json``,
``nxtka set --from FILE``)::

    {"format": "nxtka-settings 1",
     "identity": {"model": 1, "serial": "12345678", "firmware": "3088 (0x0C10)", "level": 3},
     "settings": {"gain": "3", "polarity": "bipolar", "rate": "100", "mode-si": "on", ...}}

``model`` is the amplifier's device type, ``level`` its protocol level. The
keys of ``settings`` are the tool's setting names (``nxtka get --list``), the
values the text ``nxtka set NAME VALUE`` takes: whole numbers in decimal,
other numbers with ten significant digits, switches ``on``/``off``; a
read-only setting's is the text ``nxtka get`` prints (``38400 bit/s``). A
setting the amplifier cannot report is left out, and named with the reason
under ``"unreadable"`` (present only then); one that is null in a file is
not written. Reading a file, the words
the tool prints after a number (``38400 bit/s``, ``65 (0x41): SI, linear``)
are ignored, so a file of either program restores with the other.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Mapping, NamedTuple, Optional, Tuple

from .errors import NxtkaError

FORMAT = "nxtka-settings 1"
#: The mode byte's settings-lock bit.
MODE_LOCK = 0x80


class Row(NamedTuple):
    """One setting of the file: the tool's name, the port's attribute path, how its value is text, its role."""

    name: str
    path: str
    kind: str  # int, real, switch, text, polarity, rate; speed and firmware (read only, as the tool prints them)
    role: str  # "write", "read" (read only), "factory" (written only at the factory), "line" (the line speed)


def _rows(text: str) -> Tuple[Row, ...]:
    return tuple(Row(*line.split()) for line in text.strip().splitlines())


#: The settings in the order they are written: the words before their flags,
#: the polarity before the levels it converts, the input range before the
#: rated output that takes its decimal exponent; the settings lock (mode bit 7)
#: and the line speed are written after all of them.
ROWS = _rows("""
model model int read
baud baud speed read
firmware firmware firmware read
options options.value int factory
equipment equipment.value int factory
serial serial text factory
device-type device_type int read
last-error last_error int read
control control int write
gain gain int write
polarity polarity polarity write
channel channel int write
frequency frequency real write
sampling-frequency sampling_frequency real read
rate rate rate write
mode mode.value int write
mode-si mode.si switch write
mode-text mode.text switch write
mode-max mode.max switch write
mode-log mode.log switch write
mode-window mode.window switch write
mode-average mode.average switch write
mode-linear mode.linear switch write
mode-lock mode.lock switch read
tx-mode tx_mode.value int write
amp-baud amp_baud int line
slow-rate slow_rate int write
special-mode special_mode.value int write
sleep sleep switch write
auto-zero-counter auto_zero_counter int write
noise-cut noise_cut real write
delta delta real write
learn-values learn_values int write
adapt-mask adapt_mask int write
adapt-threshold adapt_threshold real write
can-baud can.baud int write
can-active can.active switch write
can-20b can.mode_20b switch write
user-offset user_offset real write
range range real write
capacity capacity real write
rated-output rated_output real write
analog-filter analog_filter real write
gage-factor gage_factor real write
poisson poisson real write
bridge bridge.value int write
bridge-type bridge.type int write
bridge-internal bridge.internal switch write
scale scale int write
zero zero int write
offset offset int write
cal cal real write
offset-wait offset_wait real write
display-unit display.unit int write
display-digits display.digits int write
display-point display.point int write
display-norm display.norm real write
""")

#: Readable settings of the tool that describe the library's state, not the amplifier's: not in a snapshot.
NOT_SETTINGS = frozenset({"received"})

_BY_NAME = {row.name: row for row in ROWS}
_NUMBER = re.compile(r"\s*([-+]?(?:0[xX][0-9a-fA-F]+|(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?))")
_SWITCH = {"on": True, "1": True, "true": True, "yes": True, "off": False, "0": False, "false": False, "no": False}


def _target(port: Any, path: str) -> Tuple[Any, str]:
    *groups, name = path.split(".")
    for group in groups:
        port = getattr(port, group)
    return port, name


def read_row(port: Any, row: Row) -> Any:
    """The row's value on ``port`` as the port's attribute gives it."""
    target, name = _target(port, row.path)
    value = getattr(target, name)
    return value.frequency if row.kind == "rate" else value


def write_row(port: Any, row: Row, value: Any) -> None:
    """Assigns ``value`` (as :func:`parse` gives it) to the row's attribute of ``port``."""
    target, name = _target(port, row.path)
    setattr(target, name, value)


def text_of(row: Row, value: Any) -> str:
    """The file's text of ``value`` read from the row's attribute."""
    if row.kind == "switch":
        return "on" if value else "off"
    if row.kind in ("real", "rate"):
        return f"{value:.10g}"
    if row.kind == "int":
        return str(int(value))
    if row.kind == "speed":
        return f"{int(value)} bit/s"
    if row.kind == "firmware":
        return f"{int(value)} (0x{int(value):04X})"
    return str(value)


def parse(row: Row, text: Any) -> Any:
    """The value to assign for the file's ``text`` of the row; ``ValueError`` naming the setting."""
    if isinstance(text, bool):
        text = "on" if text else "off"
    text = str(text)
    if row.kind in ("text", "polarity"):
        return text
    if row.kind == "switch":
        word = text.strip().lower()
        if word not in _SWITCH:
            raise ValueError(f"{row.name}: '{text}' is not on or off")
        return _SWITCH[word]
    number = _NUMBER.match(text)
    if number is None:
        raise ValueError(f"{row.name}: '{text}' is not a number")
    digits = number.group(1)
    if row.kind in ("int", "speed", "firmware"):
        unsigned = digits.lstrip("+-").lower()
        if unsigned.startswith("0x"):
            return int(digits, 16)
        if not unsigned.isdigit():
            raise ValueError(f"{row.name}: '{text}' is not a whole number")
        return int(digits, 10)
    return float(digits)


def _same(row: Row, wanted: Any, held: Any) -> bool:
    if row.kind in ("real", "rate"):
        return abs(float(wanted) - float(held)) <= 1e-9 * max(1.0, abs(float(wanted)))
    if row.kind == "switch":
        return bool(wanted) == bool(held)
    return bool(wanted == held)


class OtherModelError(ValueError):
    """The file is of another amplifier model (``restore(..., force=True)`` writes it anyway)."""


@dataclass
class RestoreReport:
    """What :meth:`~nxtka.Port.restore` did.

    ``written``: the settings written (in order); ``unchanged``: those the
    amplifier held already (not written, read back all the same); ``differ``: setting ->
    ``(text in the file, text read back)`` for those that read back other;
    ``failed``: setting -> reason, for those the amplifier refused or a
    value the setting does not take; ``read_only`` and ``unknown``: keys of
    the file that are not written; ``factory``: factory settings (serial
    number, options, equipment), kept as the amplifier has them;
    ``line_speed``: the amplifier's new line speed in bit/s when the file
    changed it (activate the port again with ``baud=`` that), else None.
    """

    written: List[str] = field(default_factory=list)
    unchanged: List[str] = field(default_factory=list)
    differ: Dict[str, Tuple[str, str]] = field(default_factory=dict)
    failed: Dict[str, str] = field(default_factory=dict)
    read_only: List[str] = field(default_factory=list)
    unknown: List[str] = field(default_factory=list)
    factory: List[str] = field(default_factory=list)
    line_speed: Optional[int] = None

    @property
    def ok(self) -> bool:
        """True when every setting written reads back as in the file."""
        return not self.differ and not self.failed

    def __str__(self) -> str:
        lines = [f"{len(self.written)} settings written, {len(self.unchanged)} held already, "
                 f"{len(self.differ)} differ, {len(self.failed)} failed"]
        lines += [f"  {name}: file {wanted}, amplifier {held}" for name, (wanted, held) in self.differ.items()]
        lines += [f"  {name}: {reason}" for name, reason in self.failed.items()]
        for label, names in (("read only", self.read_only), ("unknown", self.unknown), ("factory, kept", self.factory)):
            if names:
                lines.append(f"  {label}: {', '.join(names)}")
        if self.line_speed is not None:
            lines.append(f"  line speed now {self.line_speed} bit/s: activate the port again with that speed")
        return "\n".join(lines)


class RestoreError(Exception):
    """Settings of a restore failed or read back other than in the file; ``report`` says which."""

    def __init__(self, report: RestoreReport) -> None:
        self.report = report
        super().__init__(str(report))


def _reason(error: Exception) -> str:
    return (error.reason or str(error)) if isinstance(error, NxtkaError) else str(error)


def snapshot(port: Any) -> Dict[str, Any]:
    """Every readable setting of the amplifier on ``port`` in the settings file's form (see the module)."""
    settings: Dict[str, str] = {}
    unreadable: Dict[str, str] = {}
    for row in ROWS:
        try:
            settings[row.name] = text_of(row, read_row(port, row))
        except NxtkaError as e:
            unreadable[row.name] = _reason(e)

    def identity(read: Callable[[], Any]) -> Any:
        try:
            return read()
        except NxtkaError:
            return None

    firmware = identity(lambda: port.firmware)
    document: Dict[str, Any] = {
        "format": FORMAT,
        "identity": {
            "model": identity(lambda: port.device_type),
            "serial": identity(lambda: port.serial),
            "firmware": None if firmware is None else text_of(_BY_NAME["firmware"], firmware),
            "level": identity(lambda: port.model),
        },
        "settings": settings,
    }
    if unreadable:
        document["unreadable"] = unreadable
    return document


def restore(port: Any, snapshot: Mapping[str, Any], force: bool = False) -> RestoreReport:
    """Writes the settings of ``snapshot`` to the amplifier on ``port``; see :meth:`SnapshotMethods.restore`."""
    if snapshot.get("format") != FORMAT:
        raise ValueError(f"not a settings file: format is {snapshot.get('format')!r}, not {FORMAT!r}")
    settings = snapshot.get("settings")
    if not isinstance(settings, Mapping):
        raise ValueError("the settings file has no \"settings\" object")
    model = (snapshot.get("identity") or {}).get("model")
    if model is not None and not force:
        own = port.device_type
        if int(model) != own:
            raise OtherModelError(f"the file is of amplifier model {model}, this one is model {own} "
                                  "(force=True writes it anyway)")
    report = RestoreReport()
    wanted: Dict[str, Tuple[Row, Any]] = {}
    for name, text in settings.items():
        if text is None:
            continue  # the amplifier the file came from could not report it
        row = _BY_NAME.get(name)
        if row is None:
            (report.read_only if name in NOT_SETTINGS else report.unknown).append(name)
        elif row.role == "read":
            report.read_only.append(name)
        elif row.role == "factory":
            report.factory.append(name)
        else:
            try:
                wanted[name] = (row, parse(row, text))
            except ValueError as e:
                report.failed[name] = str(e)

    def attempt(row: Row, value: Any) -> bool:
        try:
            write_row(port, row, value)
            return True
        except (NxtkaError, ValueError) as e:
            report.failed[row.name] = _reason(e)
            return False

    # Every setting in table order that the amplifier does not hold yet, the mode without its lock bit.
    for row in ROWS:
        if row.name not in wanted or row.role != "write":
            continue
        value = wanted[row.name][1]
        if row.name == "mode":
            value &= ~MODE_LOCK
        try:
            if _same(row, value, read_row(port, row)):
                report.unchanged.append(row.name)
                continue
        except NxtkaError:
            pass  # not readable now: written all the same
        if attempt(row, value):
            report.written.append(row.name)
    # The settings lock next to last.
    if "mode" in wanted and wanted["mode"][1] & MODE_LOCK and "mode" not in report.failed:
        attempt(wanted["mode"][0], wanted["mode"][1])
    # Read back while the line still has its speed.
    for name in report.written + report.unchanged:
        row, value = wanted[name]
        try:
            held = read_row(port, row)
        except NxtkaError as e:
            report.failed[name] = f"not read back: {_reason(e)}"
            continue
        if not _same(row, value, held):
            report.differ[name] = (text_of(row, value), text_of(row, held))
    # The line speed last: after it the port needs activating at the new speed.
    if "amp-baud" in wanted:
        row, speed = wanted["amp-baud"]
        try:
            current = read_row(port, row)
        except NxtkaError as e:
            report.failed[row.name] = _reason(e)
        else:
            if current != speed and attempt(row, speed):
                report.written.append(row.name)
                report.line_speed = speed
    return report


class SnapshotMethods:
    """``snapshot`` and ``restore``: methods of :class:`~nxtka.Port`."""

    __slots__ = ()

    def snapshot(self) -> Dict[str, Any]:
        """Every readable setting as a dict in the settings file's form (``json.dump`` it; see the module)."""
        return snapshot(self)

    def restore(self, snapshot: Mapping[str, Any], force: bool = False) -> RestoreReport:
        """Writes the writable settings of ``snapshot`` (a dict of :meth:`snapshot` or of ``nxtka get all --json``).

        Each one the amplifier does not hold already, in a safe order, the settings lock and the line speed last; then
        reads each back. Returns a :class:`RestoreReport`; raises
        :class:`RestoreError` (with the report) when one failed or reads back
        other than in the file. Read-only and unknown keys and the factory
        settings are reported, not written. A file of another amplifier model
        raises :class:`OtherModelError` before anything is written, unless ``force``.
        """
        report = restore(self, snapshot, force)
        if not report.ok:
            raise RestoreError(report)
        return report


__all__ = ["FORMAT", "ROWS", "OtherModelError", "RestoreError", "RestoreReport", "SnapshotMethods"]

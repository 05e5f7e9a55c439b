"""Settings of the amplifier as descriptors: one class attribute each, reading and writing through the exports.

A descriptor names the export that reads the setting (``getter``) and the
one that writes it (``setter``; None where there is none, "A/B" where the
value picks one of two). ``tool`` names the command-line tool's setting
where the attribute's name does not follow from it. Failures raise through
the library's error check.
"""

from __future__ import annotations

import ctypes
import operator
from typing import Any, Generic, NamedTuple, Optional, Tuple, TypeVar, Union, overload

from ._library import library

T = TypeVar("T")


class Setting(Generic[T]):
    """One setting of the amplifier of the owner's port (``_port``)."""

    def __init__(self, getter: Optional[str], setter: Optional[str], doc: str, *, tool: Optional[str] = None) -> None:
        self.getter = getter
        self.setter = setter
        self.tool = tool
        self.name = ""
        access = "read and write" if getter and setter else ("read only" if getter else "write only")
        exports = " / ".join(e for e in (getter, setter) if e)
        self.__doc__ = f"{doc} ({access}; {exports})"

    def __set_name__(self, owner: type, name: str) -> None:
        self.name = name

    @overload
    def __get__(self, obj: None, owner: Optional[type] = None) -> Setting[T]: ...

    @overload
    def __get__(self, obj: object, owner: Optional[type] = None) -> T: ...

    def __get__(self, obj: Any, owner: Optional[type] = None) -> Any:
        if obj is None:
            return self
        if self.getter is None:
            raise AttributeError(f"{self.name} is write only")
        return self.read(obj._port)

    def __set__(self, obj: Any, value: T) -> None:
        if self.setter is None:
            raise AttributeError(f"{self.name} is read only")
        self.write(obj._port, value)

    def read(self, port: int) -> T:
        """The setting's value on ``port``."""
        raise NotImplementedError

    def write(self, port: int, value: T) -> None:
        """Writes ``value`` to the amplifier on ``port``."""
        raise NotImplementedError

    def _export(self, name: Optional[str]) -> Any:
        return getattr(library(), name or "")


class IntSetting(Setting[int]):
    """An integer setting: the amplifier's answer, written as an integer (no float is taken)."""

    def read(self, port: int) -> int:
        return int(self._export(self.getter)(port))

    def write(self, port: int, value: int) -> None:
        self._export(self.setter)(port, operator.index(value))


class FlagSetting(Setting[bool]):
    """A single bit: True or False (or 1 or 0)."""

    def read(self, port: int) -> bool:
        return bool(self._export(self.getter)(port))

    def write(self, port: int, value: bool) -> None:
        if value not in (0, 1):
            raise ValueError(f"{self.name} takes True or False, not {value!r}")
        self._export(self.setter)(port, 1 if value else 0)


class RealSetting(Setting[float]):
    """A number returned by the getter itself."""

    def read(self, port: int) -> float:
        return float(self._export(self.getter)(port))

    def write(self, port: int, value: float) -> None:
        self._export(self.setter)(port, float(value))


class RealOutSetting(RealSetting):
    """A number the getter writes through a pointer."""

    def read(self, port: int) -> float:
        out = ctypes.c_double()
        self._export(self.getter)(port, ctypes.byref(out))
        return out.value


class PairSetting(Setting[Tuple[float, float]]):
    """A pair of levels ``(upper, lower)`` read through two pointers and written as two numbers."""

    def read(self, port: int) -> Tuple[float, float]:
        upper, lower = ctypes.c_double(), ctypes.c_double()
        self._export(self.getter)(port, ctypes.byref(upper), ctypes.byref(lower))
        return upper.value, lower.value

    def write(self, port: int, value: Tuple[float, float]) -> None:
        upper, lower = value
        self._export(self.setter)(port, float(upper), float(lower))


class TextSetting(Setting[str]):
    """Text of ``size`` characters (Latin-1); ``exact``: exactly that many, else up to that many."""

    def __init__(self, getter: Optional[str], setter: Optional[str], doc: str, *, size: int, exact: bool,
                 tool: Optional[str] = None) -> None:
        super().__init__(getter, setter, doc, tool=tool)
        self.size = size
        self.exact = exact

    def read(self, port: int) -> str:
        text = ctypes.create_string_buffer(self.size + 1)
        self._export(self.getter)(port, text)
        return text.value.decode("latin-1")

    def write(self, port: int, value: Union[str, bytes]) -> None:
        raw = value.encode("latin-1") if isinstance(value, str) else bytes(value)
        if len(raw) > self.size or (self.exact and len(raw) != self.size):
            wanted = f"{'' if self.exact else 'up to '}{self.size}"
            raise ValueError(f"{self.name} has {wanted} characters, not {len(raw)}")
        self._export(self.setter)(port, raw)


class SamplingRate(NamedTuple):
    """The sampling rate: frequency in Hz and factor, as the amplifier encodes them (factor -1: not expressible)."""

    frequency: float
    factor: int


class RateSetting(Setting[SamplingRate]):
    """The sampling rate: a frequency alone keeps the factor; a ``(frequency, factor)`` pair sets both."""

    def read(self, port: int) -> SamplingRate:
        frequency, factor = ctypes.c_double(), ctypes.c_int32()
        self._export(self.getter)(port, ctypes.byref(frequency), ctypes.byref(factor))
        return SamplingRate(frequency.value, factor.value)

    def __set__(self, obj: Any, value: Union[float, Tuple[float, int]]) -> None:
        Setting.__set__(self, obj, value)  # type: ignore[misc]

    def write(self, port: int, value: Any) -> None:
        if isinstance(value, (tuple, list)):
            frequency, factor = value
            factor = operator.index(factor)
        else:
            frequency = value
            factor = self.read(port).factor
            if factor < 1:  # the amplifier's factor cannot be written back: the smallest one
                factor = 1
        self._export(self.setter)(port, float(frequency), factor)


class ChoiceSetting(Setting[str]):
    """One of two words, each written by its own export: ``setter`` is "first/second" for ``choices``."""

    def __init__(self, getter: str, setter: str, doc: str, *, choices: Tuple[str, str],
                 tool: Optional[str] = None) -> None:
        super().__init__(getter, setter, doc, tool=tool)
        self.choices = choices

    def read(self, port: int) -> str:
        return self.choices[0] if self._export(self.getter)(port) else self.choices[1]

    def write(self, port: int, value: str) -> None:
        if value not in self.choices:
            raise ValueError(f"{self.name} is {' or '.join(map(repr, self.choices))}, not {value!r}")
        first, second = (self.setter or "").split("/")
        self._export(first if value == self.choices[0] else second)(port)


class SwitchSetting(Setting[bool]):
    """A write-only switch: True calls the first export of ``setter`` ("on/off"), False the second."""

    def write(self, port: int, value: bool) -> None:
        if value not in (0, 1):
            raise ValueError(f"{self.name} takes True or False, not {value!r}")
        on, off = (self.setter or "").split("/")
        self._export(on if value else off)(port)


class ClearSetting(Setting[int]):
    """A write-only value that can only be cleared: assigning 0 calls ``setter``."""

    def write(self, port: int, value: int) -> None:
        if value != 0:
            raise ValueError(f"{self.name} can only be cleared: assign 0, not {value!r}")
        self._export(self.setter)(port)

"""Exceptions that carry the library's reason for a failed call."""

import ctypes
import enum
from typing import Tuple, Union


class Failure(enum.IntEnum):
    """Why the last call failed: the numbers of ``NXgetLastFailure`` (stable across releases)."""

    NONE = 0
    PORT_RANGE = 1
    NOT_ACTIVE = 2
    BUSY = 3
    ARGUMENT = 4
    TIMEOUT = 5
    WRITE = 6
    DEVICE = 7
    ALREADY_ACTIVE = 8
    ABORTED = 9
    ANSWER = 10


class NxtkaError(Exception):
    """A library call failed.

    ``function`` is the export that failed, ``failure`` a :class:`Failure`,
    ``reason`` the library's text for it (empty when the library recorded none).
    """

    def __init__(self, function: str, failure: Union["Failure", int], reason: str) -> None:
        self.function = function
        self.failure = Failure(failure) if failure in Failure._value2member_map_ else failure
        self.reason = reason
        super().__init__(f"{function} failed: {reason}" if reason else f"{function} failed")


class PortRangeError(NxtkaError, ValueError):
    """The port number is above 1023."""


class NotActiveError(NxtkaError):
    """The port is not active (or is being released)."""


class BusyError(NxtkaError):
    """An asynchronous write is outstanding, or none is there to finish."""


class ArgumentError(NxtkaError, ValueError):
    """An argument was refused; nothing was sent."""


class NoAnswerError(NxtkaError, TimeoutError):
    """The amplifier did not answer within the time-out."""


class WriteError(NxtkaError, OSError):
    """Writing to the device failed."""


class DeviceError(NxtkaError, OSError):
    """The device could not be opened or used (the system's text is in ``reason``)."""


class AlreadyActiveError(NxtkaError):
    """The port is active or being activated already."""


class AbortedError(NxtkaError):
    """The activation was ended by ``abort_activation``."""


class AnswerError(NxtkaError):
    """The amplifier's answer made the call fail: a refusing status, or a byte that reads back other than written."""


class LineFailedError(DeviceError):
    """The line has failed (a peer that hung up, an unplugged adapter) and no values are left: release the port."""


class LinearTableError(NxtkaError):
    """A linearization table was refused or could not be moved.

    ``code`` is the error code without bit 31 (``0x1500`` and so on, the point's
    index in the low 8 bits for the point errors), ``point`` that index or None.
    """

    def __init__(self, function: str, code: int, text: str) -> None:
        self.code = code
        self.point = code & 0xFF if 0x1100 <= code < 0x1900 else None
        super().__init__(function, Failure.NONE, text)


_CLASSES = {
    Failure.PORT_RANGE: PortRangeError,
    Failure.NOT_ACTIVE: NotActiveError,
    Failure.BUSY: BusyError,
    Failure.ARGUMENT: ArgumentError,
    Failure.TIMEOUT: NoAnswerError,
    Failure.WRITE: WriteError,
    Failure.DEVICE: DeviceError,
    Failure.ALREADY_ACTIVE: AlreadyActiveError,
    Failure.ABORTED: AbortedError,
    Failure.ANSWER: AnswerError,
}

#: The exports that read measured values: a device failure there means the line is gone.
VALUE_READS = frozenset({"TKAread", "TKAreadStatus", "TKAreadMultiple", "TKAreadStatusMultiple", "TKAreceived"})


def read_failure(lib: ctypes.CDLL) -> Tuple[Union[Failure, int], str]:
    """The calling thread's last failure as recorded by the loaded library ``lib``."""
    text = ctypes.create_string_buffer(256)
    number = lib.NXgetLastFailure(text, len(text))
    return (Failure(number) if number in Failure._value2member_map_ else number), text.value.decode(errors="replace")


def last_failure() -> Tuple[Union[Failure, int], str]:
    """The calling thread's last failure as ``(Failure, text)``."""
    from ._library import library

    return read_failure(library())


def failure_error(function: str, failure: Union[Failure, int], text: str) -> NxtkaError:
    """The exception for a failed call of ``function`` with the library's ``failure`` and ``text``."""
    if function in VALUE_READS and failure == Failure.DEVICE:
        return LineFailedError(function, failure, text)
    kind = _CLASSES.get(failure, NxtkaError) if isinstance(failure, Failure) else NxtkaError
    return kind(function, failure, text)


def error_for(function: str) -> NxtkaError:
    """The exception for a failed call of ``function``, with the reason the library recorded for this thread."""
    return failure_error(function, *last_failure())

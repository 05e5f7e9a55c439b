"""The :class:`Port` class: one amplifier on one serial port."""

import ctypes
import os
import time

import numpy as np

from . import linear, memory
from ._library import EVENT, EXEC_CALLBACK, ActivationParams, library
from ._wait import wait_event
from .errors import Failure, LineFailedError, check, error_for, last_failure
from .settings import install

FLAG_BAUDRATE = 0x1  #: ``ActivationParams.flags``: the line speed is given.
FLAG_WAKEUP = 0x2  #: wait for a sleeping amplifier (``abort_activation`` ends the wait).
FLAG_RTSCTS = 0x4  #: RTS/CTS handshake.
FLAG_DISPLAY = 0x8  #: the display norm's sign bit affects text values.


def _bytes_argument(data):
    raw = bytes(data)
    return (ctypes.c_ubyte * max(1, len(raw))).from_buffer_copy(raw or b"\0"), len(raw)


def set_device_name(port, name):
    """Makes ``port`` open the device ``name`` at its next activation (None: the default)."""
    encoded = None if name is None else os.fsencode(name)
    check("NXsetDeviceName", library().NXsetDeviceName(port, encoded))


def device_name(port):
    """The device that ``port`` opens at its next activation."""
    text = ctypes.create_string_buffer(512)
    check("NXgetDeviceName", library().NXgetDeviceName(port, text, len(text)))
    return os.fsdecode(text.value)


def abort_activation(port):
    """Ends the wait for a sleeping amplifier of an activation with ``wakeup=True`` (from another thread)."""
    check("TKAabortActivate", library().TKAabortActivate(port))


def version():
    """The library's file version as ``(major, minor, build, revision)``."""
    lib = library()
    v, r = lib.TKAversion(), lib.TKArevision()
    return (v >> 16) & 0xFFFF, v & 0xFFFF, (r >> 16) & 0xFFFF, r & 0xFFFF


def request_values(ports):
    """Asks the amplifiers of all ``ports`` for one value each."""
    array = (ctypes.c_int32 * max(1, len(ports)))(*ports)
    check("TKAgetValues", library().TKAgetValues(array, len(ports)))


def send_bytes_to_devices(ports, data):
    """Writes the raw ``data`` to the amplifiers of all ``ports``."""
    array = (ctypes.c_uint32 * max(1, len(ports)))(*ports)
    buffer, count = _bytes_argument(data)
    check("NXsendBytesToDevices", library().NXsendBytesToDevices(array, len(ports), buffer, count))


@install
class Port:
    """One amplifier on serial port ``number`` (0..1023).

    ``with Port(3, device="/dev/ttyUSB0", ring=10000) as amp:`` activates the
    port on entry and releases it on exit. ``device`` maps the port number
    to a device path (default: the system's name for the number), ``ring``
    is the capacity of the value ring, ``baud`` a line speed other than
    38400 bit/s, and ``rtscts``, ``wakeup`` and ``display`` set the
    activation flags of the same names. The settings are properties
    (``amp.gain``, ``amp.mode.text``), the procedures methods
    (``amp.adjust_zero()``); every failure raises an :class:`NxtkaError`
    subclass with the library's reason.
    """

    def __init__(self, number, device=None, ring=10000, baud=None, rtscts=False, wakeup=False, display=False):
        self._port = int(number)
        self._device = device
        self._ring = int(ring)
        self._baud = baud
        self._flags = (
            (FLAG_BAUDRATE if baud is not None else 0)
            | (FLAG_RTSCTS if rtscts else 0)
            | (FLAG_WAKEUP if wakeup else 0)
            | (FLAG_DISPLAY if display else 0)
        )

    @property
    def number(self):
        """The port number."""
        return self._port

    @property
    def device(self):
        """The device path given to the constructor (None: the library's default for the number)."""
        return self._device

    def __repr__(self):
        return f"<nxtka.Port {self._port} {self._device or ''}>"

    # ---------------------------------------------------------------- activation

    def activate(self):
        """Opens the device, starts the port's receive thread and identifies the amplifier."""
        lib = library()
        if self._device is not None:
            set_device_name(self._port, self._device)
        if self._flags == 0:
            check("TKAactivate", lib.TKAactivate(self._port, self._ring))
        else:
            params = ActivationParams(16, self._ring, self._flags, int(self._baud or 0))
            check("TKAactivateExtended", lib.TKAactivateExtended(self._port, ctypes.byref(params)))
        return self

    def release(self):
        """Restores the amplifier's sleep bit and interface lock, stops the receive thread, closes the device."""
        library().TKArelease(self._port)

    def __enter__(self):
        return self.activate()

    def __exit__(self, *exc):
        self.release()
        return False

    @property
    def active(self):
        """True while the port is active (asks the library, sends nothing)."""
        return library().TKAreceived(self._port) != -1 or last_failure()[0] not in (
            Failure.NOT_ACTIVE,
            Failure.PORT_RANGE,
        )

    # ---------------------------------------------------------------- values

    def _read_failed(self, function):
        failure, reason = last_failure()
        if failure in (Failure.NONE, Failure.DEVICE):
            return LineFailedError(function, failure, reason or "the line has failed")
        return error_for(function)

    def read(self):
        """The oldest value (normalized, 1.05 end of scale), or None when none waits."""
        value = ctypes.c_double()
        r = library().TKAread(self._port, ctypes.byref(value))
        if r == -1:
            raise self._read_failed("TKAread")
        return value.value if r == 1 else None

    def read_status(self):
        """The oldest value and its status byte as ``(value, status)``, or None when none waits."""
        value, status = ctypes.c_double(), ctypes.c_ubyte()
        r = library().TKAreadStatus(self._port, ctypes.byref(value), ctypes.byref(status))
        if r == -1:
            raise self._read_failed("TKAreadStatus")
        return (value.value, status.value) if r == 1 else None

    def read_values(self, max=4096, status=False):
        """Up to ``max`` waiting values, oldest first, as a float64 array (empty when none wait).

        With ``status=True`` returns ``(values, statuses)``, the statuses as a uint8 array.
        Raises :class:`LineFailedError` when none wait and the line has failed.
        """
        values = np.empty(max, dtype=np.float64)
        statuses = np.empty(max, dtype=np.uint8) if status else None
        delivered = ctypes.c_int32(0)
        lib = library()
        pointer = values.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
        if status:
            r = lib.TKAreadStatusMultiple(
                self._port, pointer, statuses.ctypes.data_as(ctypes.POINTER(ctypes.c_ubyte)), max, ctypes.byref(delivered)
            )
        else:
            r = lib.TKAreadMultiple(self._port, pointer, max, ctypes.byref(delivered))
        if r == -1:
            raise self._read_failed("TKAreadStatusMultiple" if status else "TKAreadMultiple")
        n = delivered.value if r == 1 else 0
        return (values[:n].copy(), statuses[:n].copy()) if status else values[:n].copy()

    def event(self):
        """The port's data event: a descriptor (POSIX) or HANDLE (Windows), signalled while values wait
        and once the line has failed. Never read or close it."""
        e = library().NXrequestEvent(self._port)
        if not e:
            raise error_for("NXrequestEvent")
        return e

    def fileno(self):
        """The data event's descriptor, so that a Port can be given to ``select``/``poll`` (POSIX)."""
        return self.event()

    def wait(self, timeout=None):
        """Waits until values wait or the line has failed; False after ``timeout`` seconds."""
        return wait_event(self.event(), timeout)

    def blocks(self, max=4096, timeout=None):
        """Iterates over arrays of values as they arrive, sleeping on the data event between them.

        Ends with :class:`LineFailedError` when the line fails (after the last
        values), and with ``TimeoutError`` when no value comes for ``timeout`` seconds.
        """
        event = self.event()
        while True:
            values = self.read_values(max)
            if len(values):
                yield values
                continue
            if not wait_event(event, timeout):
                raise TimeoutError(f"no values on port {self._port} within {timeout} s")

    def __iter__(self):
        """Iterates over single values as they arrive (see :meth:`blocks`)."""
        for block in self.blocks():
            yield from block.tolist()

    # ---------------------------------------------------------------- settings that are not one number

    @property
    def bipolar(self):
        """True for bipolar input, False for unipolar; assigning switches the amplifier and the conversion."""
        return bool(check("TKAisBipol", library().TKAisBipol(self._port)))

    @bipolar.setter
    def bipolar(self, on):
        if on:
            check("TKAsetBipolar", library().TKAsetBipolar(self._port))
        else:
            check("TKAsetUnipolar", library().TKAsetUnipolar(self._port))

    @property
    def serial_number(self):
        """The 8-character serial number; assigning writes it (a factory setting)."""
        text = ctypes.create_string_buffer(16)
        check("TKAgetSerialNo", library().TKAgetSerialNo(self._port, text))
        return text.value.decode("latin-1")

    @serial_number.setter
    def serial_number(self, text):
        raw = text.encode("latin-1") if isinstance(text, str) else bytes(text)
        if len(raw) != 8:
            raise ValueError("a serial number has 8 characters")
        check("NXwriteSerialNo", library().NXwriteSerialNo(self._port, raw))

    def _pair(self, function):
        a, b = ctypes.c_double(), ctypes.c_double()
        check(function, getattr(library(), function)(self._port, ctypes.byref(a), ctypes.byref(b)))
        return a.value, b.value

    @property
    def threshold(self):
        """The first threshold pair ``(upper, lower)`` on the normalized scale."""
        return self._pair("TKAgetThreshold")

    @threshold.setter
    def threshold(self, pair):
        upper, lower = pair
        check("TKAsetThreshold", library().TKAsetThreshold(self._port, upper, lower))

    @property
    def second_threshold(self):
        """The second threshold pair ``(upper, lower)`` on the normalized scale."""
        return self._pair("TKAgetSecondThreshold")

    @second_threshold.setter
    def second_threshold(self, pair):
        upper, lower = pair
        check("TKAsetSecondThreshold", library().TKAsetSecondThreshold(self._port, upper, lower))

    @property
    def sampling_rate(self):
        """The sampling rate as ``(frequency in Hz, factor)``, in the amplifier's own encoding."""
        frequency, factor = ctypes.c_double(), ctypes.c_int32()
        check(
            "TKAreadSamplingRate",
            library().TKAreadSamplingRate(self._port, ctypes.byref(frequency), ctypes.byref(factor)),
        )
        return frequency.value, factor.value

    @sampling_rate.setter
    def sampling_rate(self, pair):
        frequency, factor = pair
        check("TKAwriteSamplingRate", library().TKAwriteSamplingRate(self._port, frequency, factor))

    @property
    def sensor_text_assign(self):
        """The sensor text assignment as a pair of answer bytes."""
        second = ctypes.c_int32()
        first = check("TKAgetSensorTextAssign", library().TKAgetSensorTextAssign(self._port, ctypes.byref(second)))
        return first, second.value

    def range_entry(self, first, second):
        """Range-table entry first/second as ``(status, value)``."""
        value = ctypes.c_double()
        status = check("TKAgetRanges", library().TKAgetRanges(self._port, first, second, ctypes.byref(value)))
        return status, value.value

    def set_user_text(self, text):
        """Writes up to 256 characters of user text."""
        check("TKAsetUserText", library().TKAsetUserText(self._port, text.encode("latin-1")))

    def set_mode_lock(self, lock, identifier):
        """Locks (or unlocks) the settings with the amplifier's 3-byte identifier."""
        buffer, count = _bytes_argument(identifier)
        if count != 3:
            raise ValueError("the identifier has 3 bytes")
        check("NXsetModeLock", library().NXsetModeLock(self._port, 1 if lock else 0, buffer))

    def send_id(self, identifier):
        """Sends the amplifier's 3-byte identifier."""
        buffer, count = _bytes_argument(identifier)
        if count != 3:
            raise ValueError("the identifier has 3 bytes")
        check("NXsendID", library().NXsendID(self._port, buffer))

    # ---------------------------------------------------------------- raw bytes and the service hook

    def send_bytes(self, data):
        """Writes raw bytes to the amplifier."""
        buffer, count = _bytes_argument(data)
        check("NXsendBytes", library().NXsendBytes(self._port, buffer, count))

    def send_bytes_async(self, data):
        """Starts a write; returns its event when still in progress (call :meth:`synchronize_send`
        from this thread after it), None when written at once. ``data`` is kept until then."""
        self._async_buffer, count = _bytes_argument(data)
        handle = EVENT()
        r = check(
            "NXasynchronousSendBytes",
            library().NXasynchronousSendBytes(self._port, self._async_buffer, count, ctypes.byref(handle)),
        )
        return handle.value if r == 1 else None

    def synchronize_send(self):
        """Waits for the write :meth:`send_bytes_async` started."""
        check("NXsynchronizeSendBytes", library().NXsynchronizeSendBytes(self._port))
        self._async_buffer = None

    def run_locked(self, callback, argument=0):
        """Runs ``callback(port, argument)`` while the port's command lock is held; its int result."""
        function = EXEC_CALLBACK(lambda port, arg: int(callback(port, arg)))
        return check("NXreservedExec", library().NXreservedExec(self._port, 0, function, argument))

    # ---------------------------------------------------------------- memory and linearization

    read_memory = memory.read_memory
    write_memory = memory.write_memory
    check_memory = memory.check_memory
    read_memory_word = memory.read_memory_word
    write_memory_byte = memory.write_memory_byte
    read_linear_table = linear.read_linear_table
    write_linear_table = linear.write_linear_table
    check_linear_table = linear.check_linear_table
    probe_linear = linear.probe_linear
    read_linear_record = linear.read_linear_record
    read_linear_flag = linear.read_linear_flag
    linear_command = linear.linear_command

    def collect(self, count, timeout):
        """Collects at least ``count`` values within ``timeout`` seconds (fewer if the time runs out)."""
        deadline = time.monotonic() + timeout
        chunks, have = [], 0
        event = self.event()
        while have < count:
            block = self.read_values(max(count - have, 1))
            if len(block):
                chunks.append(block)
                have += len(block)
                continue
            left = deadline - time.monotonic()
            if left <= 0 or not wait_event(event, left):
                break
        return np.concatenate(chunks) if chunks else np.empty(0)

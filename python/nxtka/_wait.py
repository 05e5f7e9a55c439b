"""Waiting for a library event: a file descriptor on POSIX, a HANDLE on Windows."""

from __future__ import annotations

import sys
from typing import Any, Optional

if sys.platform == "win32":
    import ctypes

    _WAIT_OBJECT_0 = 0
    _INFINITE = 0xFFFFFFFF

    def wait_event(event: Any, timeout: Optional[float]) -> bool:
        """True once ``event`` is signalled, False after ``timeout`` seconds (None: no limit)."""
        ms = _INFINITE if timeout is None else max(0, int(timeout * 1000))
        wait = ctypes.windll.kernel32.WaitForSingleObject  # type: ignore[attr-defined]
        wait.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
        wait.restype = ctypes.c_uint32
        return bool(wait(event, ms) == _WAIT_OBJECT_0)

else:
    import select

    def wait_event(event: Any, timeout: Optional[float]) -> bool:
        """True once ``event`` (a descriptor) is readable, False after ``timeout`` seconds (None: no limit)."""
        poller = select.poll()
        poller.register(event, select.POLLIN)
        return bool(poller.poll(None if timeout is None else max(0, int(timeout * 1000))))

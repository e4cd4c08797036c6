"""The board: an open port to the spectrometer, through the C library."""
from __future__ import annotations

import ctypes
import datetime
import numbers
from dataclasses import dataclass
from types import TracebackType
from typing import Optional, Type

import numpy

from . import _library
from ._interruptible import run_interruptible
from .errors import BoardError

PIXELS = 256
"""Pixels in one scan."""

PRE_SCANS_RANGE = (0, 10)
"""pre_scans: 0..10 scans of 4 ms before each data scan."""
DATA_SCANS_RANGE = (1, 10)
"""data_scans: 1..10 data scans an acquisition."""
PERIOD_MS_RANGE = (100, 1500)
"""period_ms: integration period of each data scan, 100..1500 ms."""
BLINK_COUNT_RANGE = (1, 10000)
"""blink count: 1..10000 on/off pairs."""
BLINK_PERIOD_MS_RANGE = (1, 10000)
"""blink period_ms: 1..10000 ms on, then as long off."""
TIMEOUT_SCALE_RANGE = (100, 1000)
"""timeout_scale: every time-out lengthened to 100..1000 percent of its own."""
LEDS = (1, 2)
"""The LED numbers."""

_FIRMWARE_BUFFER = 128
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

_lib = _library.declare(_library.load_library())


def library_version() -> str:
    """The C library's version, "MAJOR.MINOR.PATCH"."""
    return _lib.zv_version().decode()


def _integer(name: str, value: object, limits: tuple[int, int]) -> int:
    """``value`` as an int within ``limits`` (inclusive); TypeError for a
    non-integer (bool included), ValueError out of range."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, not %r" % (name, value))
    low, high = limits
    if not low <= int(value) <= high:
        raise ValueError("%s must be %d..%d, not %d" % (name, low, high, value))
    return int(value)


def _led_number(led: object) -> int:
    if isinstance(led, bool) or not isinstance(led, numbers.Integral) or int(led) not in LEDS:
        raise ValueError("LED number must be 1 or 2, not %r" % (led,))
    return int(led)


def _utc(milliseconds: int) -> datetime.datetime:
    return _EPOCH + datetime.timedelta(milliseconds=milliseconds)


@dataclass(frozen=True)
class AcquisitionSettings:
    """The settings of an acquisition.

    Attributes:
        pre_scans: scans of 4 ms before each data scan, 0..10.
        data_scans: data scans, 1..10.
        period_ms: integration period of each data scan in ms, 100..1500.
    """

    pre_scans: int
    data_scans: int
    period_ms: int


@dataclass(frozen=True)
class Acquisition:
    """What an acquisition did.

    Attributes:
        start: when the settings went to the board (aware datetime, UTC,
            millisecond resolution).
        end: when the last value arrived (aware datetime, UTC).
        settings: the settings used.
    """

    start: datetime.datetime
    end: datetime.datetime
    settings: AcquisitionSettings


def _check_status(status: int, text: bytes) -> None:
    if status != 0:
        raise BoardError(status, text.decode(errors="replace"),
                         _lib.zv_status_text(status).decode(errors="replace"))


class Board:
    """An open spectrometer board; made by :func:`zorvidlk.open`.

    Use it as a context manager (or call :meth:`close`) so the port is given
    back also when the body raises. After close every method and property
    but :attr:`closed` (and close itself) raises ValueError. A Board is used
    by one thread at a time; only :meth:`cancel` may come from another. Ctrl+C (KeyboardInterrupt) during
    :meth:`acquire` or :meth:`blink` cancels the operation and leaves the
    board usable.
    """

    def __init__(self, handle: int, port: str) -> None:
        """Takes an open handle of the C library; use :func:`zorvidlk.open`."""
        self._handle: Optional[int] = handle
        self._port = port
        self._firmware: Optional[str] = None
        self._last: Optional[Acquisition] = None
        self._timeout_scale = 100

    def __repr__(self) -> str:
        state = "closed" if self._handle is None else "open"
        return "<zorvidlk.Board %s %s>" % (self._port, state)

    def __enter__(self) -> "Board":
        self._open_handle()
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()

    def __del__(self) -> None:
        # A board dropped without close still gives its port back (not at
        # interpreter exit, when the library may already be gone).
        if getattr(self, "_handle", None) is not None and _lib is not None:
            try:
                self.close()
            except Exception:
                pass

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has run."""
        return self._handle is None

    @property
    def port(self) -> str:
        """The port name as given to :func:`zorvidlk.open`. Raises ValueError
        after close."""
        self._open_handle()
        return self._port

    @property
    def timeout_scale(self) -> int:
        """Every time-out of the board's operations as a percentage of its
        own value, 100..1000 (100 unless set): raise it for a slow network
        path. Setting a value out of range raises ValueError; both raise
        ValueError after close."""
        self._open_handle()
        return self._timeout_scale

    @timeout_scale.setter
    def timeout_scale(self, percent: int) -> None:
        handle = self._open_handle()
        percent = _integer("timeout_scale", percent, TIMEOUT_SCALE_RANGE)
        status = _lib.zv_set_timeout_scale(handle, percent)
        _check_status(status, self._error_text(handle))
        self._timeout_scale = percent

    def close(self) -> None:
        """Gives the port back (RTS dropped). Closing a closed board does
        nothing."""
        handle, self._handle = self._handle, None
        if handle is not None:
            _lib.zv_close(handle)

    def cancel(self) -> None:
        """From another thread: ends the :meth:`acquire` or :meth:`blink`
        running on this board within 50 ms; that call then raises BoardError
        (-303) and the board stays usable. With nothing running, nothing
        happens. Raises ValueError after close (do not close a board while
        another thread uses it)."""
        _lib.zv_cancel(self._open_handle())

    def _open_handle(self) -> int:
        if self._handle is None:
            raise ValueError("the board on %s is closed; open it again with zorvidlk.open()"
                             % self._port)
        return self._handle

    def _error_text(self, handle: int) -> bytes:
        return _lib.zv_error_text(handle) or b""

    @property
    def firmware(self) -> str:
        """The board's firmware text (at most 127 characters, from its
        signature "ZORVI DLK" on). Queried on first use (up to 2 s), then
        cached. Raises BoardError (-305 no answer, -306 not the board's,
        -304 port lost; nothing is cached) and ValueError after close."""
        handle = self._open_handle()
        if self._firmware is None:
            text = ctypes.create_string_buffer(_FIRMWARE_BUFFER)
            status = _lib.zv_firmware(handle, text, _FIRMWARE_BUFFER)
            _check_status(status, self._error_text(handle))
            self._firmware = text.value.decode(errors="replace")
        return self._firmware

    @property
    def last_acquisition(self) -> Optional[Acquisition]:
        """The start and end (UTC) and settings of the last successful
        :meth:`acquire`; None before the first. A failed acquisition leaves
        it as it was. Raises ValueError after close."""
        self._open_handle()
        return self._last

    def led(self, led: int, on: bool) -> None:
        """Switches LED ``led`` (1 or 2) on (``on`` true) or off; takes
        100 ms. Raises ValueError for another LED number (nothing is sent),
        BoardError (-304) when the port is lost, ValueError after close."""
        handle = self._open_handle()
        number = _led_number(led)
        status = _lib.zv_led(handle, number, 1 if on else 0)
        _check_status(status, self._error_text(handle))

    def blink(self, led: int, count: int = 10, period_ms: int = 100) -> None:
        """Blinks LED ``led`` (1 or 2) ``count`` times (1..10000): on for
        ``period_ms`` ms (1..10000), then off as long; the LED ends off.
        Blocks for count x 2 x period_ms. Raises ValueError for an argument
        out of range (nothing is sent), BoardError (-304 port lost),
        KeyboardInterrupt on Ctrl+C (the blink stops within 100 ms, the LED
        is left off), ValueError after close."""
        handle = self._open_handle()
        number = _led_number(led)
        count = _integer("count", count, BLINK_COUNT_RANGE)
        period_ms = _integer("period_ms", period_ms, BLINK_PERIOD_MS_RANGE)

        def call() -> tuple[int, bytes]:
            status = _lib.zv_blink(handle, number, count, period_ms)
            return status, self._error_text(handle) if status else b""

        status, text = run_interruptible(call, lambda: _lib.zv_cancel(handle))
        _check_status(status, text)

    def acquire(self, pre_scans: int = 3, data_scans: int = 3,
                period_ms: int = 650) -> numpy.ndarray:
        """One acquisition: ``data_scans`` scans (1..10), each after
        ``pre_scans`` scans of 4 ms (0..10), integrating for ``period_ms``
        ms (100..1500). Takes about 0.4 s plus, per data scan, pre_scans x
        4 ms + period_ms and the transfer.

        Returns a numpy array of dtype uint16 and shape (data_scans, 256):
        ``scans[i][p]`` is the count (0..65535) of pixel position p (0..255)
        in data scan i + 1. :attr:`last_acquisition` then tells the times.

        Raises ValueError for a setting out of range (nothing is sent),
        BoardError with code -206, -207 or -208 when the board did not keep
        to its handshake (retry; the board stays usable) or -304 when the
        port is lost, KeyboardInterrupt on Ctrl+C (the acquisition is
        cancelled; the board stays usable), ValueError after close.
        """
        handle = self._open_handle()
        settings = _library.Settings(
            ctypes.sizeof(_library.Settings),
            _integer("pre_scans", pre_scans, PRE_SCANS_RANGE),
            _integer("data_scans", data_scans, DATA_SCANS_RANGE),
            _integer("period_ms", period_ms, PERIOD_MS_RANGE))
        values = numpy.zeros(settings.data_scans * PIXELS, dtype=numpy.uint16)
        info = _library.AcquisitionInfo()
        info.size = ctypes.sizeof(_library.AcquisitionInfo)

        def call() -> tuple[int, bytes]:
            status = _lib.zv_acquire(handle, ctypes.byref(settings),
                                     values.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)),
                                     values.size, ctypes.byref(info))
            return status, self._error_text(handle) if status else b""

        status, text = run_interruptible(call, lambda: _lib.zv_cancel(handle))
        _check_status(status, text)
        used = info.settings
        self._last = Acquisition(_utc(info.start_utc_ms), _utc(info.end_utc_ms),
                                 AcquisitionSettings(used.pre_scans, used.data_scans,
                                                     used.period_ms))
        return values.reshape(settings.data_scans, PIXELS)


def open(port: str, baud: int = 115200, timeout_scale: int = 100) -> Board:
    """Opens the board on ``port`` at ``baud`` bits per second (8N1).

    ``port``: "3" or "COM3" (COM 3: through $ZORVIDLK_PORT_DIR when set,
    else /dev/ttyS2 on Linux, \\\\.\\COM3 on Windows), a device path such as
    "/dev/ttyUSB0", or "rfc2217://HOST:PORT" for a board on the network.
    ``timeout_scale`` (100..1000, percent) lengthens every time-out, for a
    slow network path.

    Returns a :class:`Board`, best used as a context manager. Raises
    ValueError for a baud rate or timeout_scale out of range, BoardError
    when the port cannot be opened (-1 invalid COM number, -2 in use, -10
    nothing there, -12 unsupported baud rate, -13 nothing serves it, ...).
    """
    if not isinstance(port, str):
        raise TypeError("port must be a str such as '3', 'COM3', '/dev/ttyUSB0' or "
                        "'rfc2217://host:4000', not %r" % (port,))
    baud = _integer("baud", baud, (1, 2**31 - 1))
    scale = _integer("timeout_scale", timeout_scale, TIMEOUT_SCALE_RANGE)
    handle = ctypes.c_void_p()
    status = _lib.zv_open(port.encode(), baud, ctypes.byref(handle))
    _check_status(status, _lib.zv_error_text(None) or b"")
    board = Board(handle.value, port)
    try:
        board.timeout_scale = scale
    except BaseException:
        board.close()
        raise
    return board

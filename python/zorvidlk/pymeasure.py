"""A PyMeasure driver for the spectrometer board (PyMeasure 0.9).

    from zorvidlk.pymeasure import Spectrometer
    spectrometer = Spectrometer("3")
    spectrometer.data_scans = 1
    scans = spectrometer.acquire()          # numpy uint16, shape (1, 256)

The board speaks no text protocol: the driver reaches it through
:mod:`zorvidlk` and gives PyMeasure an adapter of its own whose text
write/read raise :class:`TextProtocolError`. Importing this module imports
PyMeasure; importing :mod:`zorvidlk` alone does not.
"""
from __future__ import annotations

from typing import Any, Optional

import numpy
from pymeasure.adapters import Adapter
from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_range, strict_discrete_set

from . import board as _board

__all__ = ["Spectrometer", "BoardAdapter", "TextProtocolError"]


class TextProtocolError(NotImplementedError):
    """Raised by the text write/read/ask/values of :class:`BoardAdapter`:
    the board takes no text commands; use the Spectrometer's properties and
    acquire()."""


class BoardAdapter(Adapter):
    """PyMeasure's view of an open :class:`zorvidlk.Board`: the board itself
    as ``.board``; every text or binary exchange raises TextProtocolError."""

    def __init__(self, board: _board.Board) -> None:
        """Wraps ``board``, which the adapter closes in :meth:`close`."""
        super().__init__()
        self.board = board

    def _refuse(self, *args: Any, **kwargs: Any) -> Any:
        """Text and binary exchanges (write, read, ask, values,
        binary_values): always raise TextProtocolError."""
        raise TextProtocolError(
            "the zorvidlk board speaks no text protocol: use the Spectrometer's properties "
            "(pre_scans, data_scans, period_ms, firmware, led1, led2) and acquire()")

    write = read = ask = values = binary_values = _refuse

    def close(self) -> None:
        """Closes the board's port."""
        self.board.close()

    def __repr__(self) -> str:
        return "<BoardAdapter %r>" % (self.board,)


def _setting_range(name: str, limits: tuple[int, int], unit: str) -> property:
    """A driver setting held in the driver and used by acquire(): an int
    validated by PyMeasure's strict_discrete_range (ValueError outside
    ``limits`` or not whole)."""
    attribute = "_" + name

    def fget(self: "Spectrometer") -> int:
        return getattr(self, attribute)

    def fset(self: "Spectrometer", value: int) -> None:
        setattr(self, attribute, int(strict_discrete_range(value, limits, 1)))

    fget.__doc__ = ("%s, %d..%d%s; used by acquire(). Setting another value raises ValueError."
                    % (name, limits[0], limits[1], unit))
    return property(fget, fset)


def _led_setting(led: int) -> property:
    """LED ``led`` as a PyMeasure setting: written, never read."""

    def fget(self: "Spectrometer") -> bool:
        raise LookupError("Instrument.setting properties can not be read.")

    def fset(self: "Spectrometer", on: bool) -> None:
        self.board.led(led, bool(strict_discrete_set(on, (False, True))))

    fget.__doc__ = ("LED %d: set True to switch it on, False off (takes 100 ms). A setting: "
                    "reading raises LookupError; a value other than True/False/1/0 raises "
                    "ValueError; BoardError (-304) when the port is lost." % led)
    return property(fget, fset)


class Spectrometer(Instrument):
    """The spectrometer board (256 pixels, two LEDs) as a PyMeasure
    Instrument.

    Settings (properties, validated with PyMeasure's validators, ValueError
    outside their range): ``pre_scans`` 0..10, ``data_scans`` 1..10,
    ``period_ms`` 100..1500 ms (default 3, 3, 650); ``led1`` and ``led2``
    (write-only, True = on). Measurement: ``firmware`` (str, read-only).
    :meth:`acquire` returns the scans. Failures of the board raise
    :class:`zorvidlk.BoardError`.
    """

    pre_scans = _setting_range("pre_scans", _board.PRE_SCANS_RANGE, " scans of 4 ms")
    data_scans = _setting_range("data_scans", _board.DATA_SCANS_RANGE, " data scans")
    period_ms = _setting_range("period_ms", _board.PERIOD_MS_RANGE, " ms of integration")
    led1 = _led_setting(1)
    led2 = _led_setting(2)

    def __init__(self, port: str, baud: int = 115200, timeout_scale: int = 100,
                 name: str = "zorvidlk spectrometer", **kwargs: Any) -> None:
        """Opens the board on ``port`` ("3", "COM3", "/dev/ttyUSB0",
        "rfc2217://host:4000") at ``baud`` bits per second; see
        :func:`zorvidlk.open` for ``timeout_scale`` and what it raises."""
        self._pre_scans = 3
        self._data_scans = 3
        self._period_ms = 650
        super().__init__(BoardAdapter(_board.open(port, baud, timeout_scale)), name,
                         includeSCPI=False, **kwargs)

    @property
    def board(self) -> _board.Board:
        """The open :class:`zorvidlk.Board` (ValueError once shut down)."""
        board: _board.Board = self.adapter.board
        if board.closed:
            raise ValueError("the spectrometer %r is shut down; make a new Spectrometer"
                             % self.name)
        return board

    @property
    def firmware(self) -> str:
        """The board's firmware text (a measurement: read-only; cached after
        the first query). Raises BoardError (-305 no answer, -306 not the
        board's, -304 port lost)."""
        return self.board.firmware

    @property
    def last_acquisition(self) -> Optional[_board.Acquisition]:
        """Start, end (aware UTC datetimes) and settings of the last
        successful acquire(); None before the first."""
        return self.board.last_acquisition

    def acquire(self) -> numpy.ndarray:
        """One acquisition with the driver's settings: a numpy uint16 array
        of shape (data_scans, 256), counts 0..65535 by data scan and pixel
        position 0..255. Raises BoardError (-206/-207/-208 handshake time-out,
        -304 port lost) and KeyboardInterrupt on Ctrl+C (cancelled, board
        usable); see :meth:`zorvidlk.Board.acquire`."""
        return self.board.acquire(self._pre_scans, self._data_scans, self._period_ms)

    def blink(self, led: int, count: int = 10, period_ms: int = 100) -> None:
        """Blinks LED ``led`` (1 or 2) ``count`` times (1..10000), ``period_ms``
        (1..10000) on then off; see :meth:`zorvidlk.Board.blink`."""
        self.board.blink(led, count, period_ms)

    def shutdown(self) -> None:
        """Closes the board's port (PyMeasure's safe state); calling it again
        does nothing."""
        self.adapter.close()
        super().shutdown()

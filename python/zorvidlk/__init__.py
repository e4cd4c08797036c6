"""The zorvidlk spectrometer board (256 pixels, two status LEDs) from Python.

    import zorvidlk
    with zorvidlk.open("3") as board:                  # "COM3", "/dev/ttyUSB0", "rfc2217://host:4000"
        print(board.firmware)
        scans = board.acquire(pre_scans=3, data_scans=3, period_ms=650)   # uint16, (3, 256)

Errors of the board and its port raise :class:`BoardError`; arguments out of
range raise ValueError before anything is sent. The C library libzorvidlk.so.1
(zorvidlk.dll on Windows) is loaded on import; ZORVIDLK_LIBRARY names another
file. The PyMeasure driver is :mod:`zorvidlk.pymeasure`, imported only on
request.
"""
from .board import (BLINK_COUNT_RANGE, BLINK_PERIOD_MS_RANGE, DATA_SCANS_RANGE, LEDS,
                    PERIOD_MS_RANGE, PIXELS, PRE_SCANS_RANGE, TIMEOUT_SCALE_RANGE, Acquisition,
                    AcquisitionSettings, Board, library_version, open)
from .errors import BoardError

__all__ = [
    "open", "Board", "BoardError", "Acquisition", "AcquisitionSettings", "library_version",
    "PIXELS", "LEDS", "PRE_SCANS_RANGE", "DATA_SCANS_RANGE", "PERIOD_MS_RANGE",
    "BLINK_COUNT_RANGE", "BLINK_PERIOD_MS_RANGE", "TIMEOUT_SCALE_RANGE",
]

"""The exception for a failure the board or its port reported."""
from __future__ import annotations

# What to do, by status: shown after the library's own text.
_ADVICE = {
    -206: "the board did not keep to its scan handshake; retry, and check its power and cable",
    -207: "the board did not signal its data; retry, and check its power and cable",
    -208: "a pixel byte did not come; retry, and check the cable (and, on a network port, "
          "the timeout_scale of zorvidlk.open)",
    -303: "the operation was cancelled; the board is usable",
    -304: "the port is gone; close the board and open it again",
    -305: "the board did not answer; check that it is powered and on this port",
    -306: "the device on this port is not the spectrometer board; check the port name",
    -1: "COM numbers are 1..256",
    -2: "another program (or another Board) holds the port; close it first",
    -10: "nothing is at that port name; check the name (zorvidlk -l lists the ports)",
    -12: "use a baud rate the port supports, such as 115200",
    -13: "the port exists but nothing serves it; check the device or the server",
}


class BoardError(Exception):
    """A failure reported by the board or its port.

    Attributes:
        code: the C library's status, a negative int: -206, -207 or -208 for a
            failed acquisition (CTS or data time-out), -303 cancelled, -304 the
            port is lost (close the board and open it again), -305/-306 the
            firmware query had no answer / not the board's, -1..-13 and -103
            when opening the port failed (see zorvidlk.h).
        text: the library's text for the failure (zv_error_text), e.g.
            "S Command Timeout, Spectrometer CTS never asserted after 503 msecs".
    """

    def __init__(self, code: int, text: str, status_text: str = "") -> None:
        self.code = code
        self.text = text
        self.status_text = status_text
        message = text or status_text or "status %d" % code
        details = "status %d" % code
        if status_text and status_text != text:
            details += ": " + status_text
        advice = _ADVICE.get(code)
        super().__init__("%s (%s)%s" % (message, details, "; " + advice if advice else ""))

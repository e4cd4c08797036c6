"""Menu key A against the simulated board: the firmware line, the signature
search, the 2 s time-out and the failure report on standard error."""
import re
import time

import pytest

NOT_FOUND = "ERROR: Firmware String Not Found() RETURNED: 0\n"
# 127 characters: a stray byte in front of it, or a longer line, pushes the end
# of the signature line past the 127 that reach the reply buffer.
FULL_LINE = "x" * 118 + "ZORVI DLK"


def firmware_line(shown):
    return "\nSpectrometer Firmware = %s\n" % shown


@pytest.mark.parametrize("firmware, shown, found", [
    ("Board rev 7 ZORVI DLK 2.1", "ZORVI DLK 2.1", True),
    ("zorvi dlk 2.1", "Can't find ZORVI!", False),
    (FULL_LINE, "ZORVI DLK", True),
    (FULL_LINE + "-tail beyond the reply buffer", "ZORVI DLK", True),
    ("y" * 124 + "ZORVI DLK", "Can't find ZORVI!", False),
], ids=["text-before", "lower-case", "127-chars", "over-127", "signature-cut"])
def test_reply_line(board, firmware, shown, found):
    _, session = board(["--firmware", firmware])
    text = session.command("a\r")
    assert firmware_line(shown) in text
    assert ("Firmware String Found\n" in text) == found
    assert session.new_stderr() == ("" if found else NOT_FOUND)


def test_default_firmware_is_found(board):
    _, session = board()
    text = session.command("A\r")
    assert re.search(r"\nSpectrometer Firmware = ZORVI DLK firmware \S+\nFirmware String Found\n",
                     text), text
    assert session.new_stderr() == ""


def test_stray_bytes_before_the_query_are_discarded(board):
    # The board sends noise while idle (a few bytes every 30-120 ms): none of it
    # may end up in front of the reply, or the line would be cut before "K".
    sim, session = board(["--fault", "noise", "--firmware", FULL_LINE])
    time.sleep(0.4)
    text = session.command("a\r")
    assert sim.events("fault")[0]["name"] == "noise"
    assert firmware_line("ZORVI DLK") + "Firmware String Found\n" in text
    assert session.new_stderr() == ""


@pytest.mark.parametrize("fault", ["silent", "slow-reply=2500"])
def test_no_reply_within_two_seconds(board, fault):
    _, session = board(["--fault", fault, "--firmware", FULL_LINE])
    started = time.monotonic()
    text = session.command("a\r")
    assert time.monotonic() - started >= 2.0
    assert firmware_line("Timeout!") in text
    assert "Firmware String Found" not in text
    assert session.new_stderr() == NOT_FOUND
    # The fault is spent; a late reply still on its way is cleared by the next
    # query and the fresh reply is read whole.
    time.sleep(0.8)
    text = session.command("a\r")
    assert firmware_line("ZORVI DLK") + "Firmware String Found\n" in text
    assert session.new_stderr() == ""

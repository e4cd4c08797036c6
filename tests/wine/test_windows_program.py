"""zorvidlk.exe under wine: the one-shot requests, a missing port, the scan over
a port directory, and the Win32 comm endpoint on a pseudo-terminal port (the
test plays the board), with the menu's keys on wine's console."""
import os
import re
import time

from conftest import load_e2e, run_program, scan_start_wait_ms

menu = load_e2e("test_menu")
PROMPT = menu.PROMPT
BANNER = menu.BANNER
HELP = menu.HELP
EXIT_TEXT = menu.EXIT_TEXT

INIT_TEXTS = (b"Win64 ZVS Version 1.0.0 (Build 1)\r\n"
              b"Win32 comm and RFC 2217 serial service\r\n"
              b"Overlapped I/O is disabled\r\n"
              b"Setting DTR & RTS on\r\n"
              b"Setting no parity, 8 data bits, & one stop bit (8N1)\r\n")
START_TEXTS = b"\r\n\r\n***Initializing Communications***\r\n" + INIT_TEXTS
EXIT_SEQUENCE = b"(exiting)...\r\n"
FIRMWARE = b"ZORVI DLK firmware 2.3.1"
COM = 200


def test_version_report_describes_the_windows_build(port_dir):
    status, out, err = run_program(["-v"], port_dir)
    assert status == 0 and err == b""
    lines = out.split(b"\r\n")
    assert lines[0] == b"" and re.fullmatch(rb"Build: zorvidlk Date: \w{3} [ \d]\d \d{4} "
                                            rb"\d\d:\d\d:\d\d", lines[1])
    assert re.fullmatch(rb"GCC \d+\.\d+\.\d+ \(x86_64-windows-mingw-w64\)", lines[3])
    assert lines[4] == b"ZVS  version 1.0.0 (Build 1)"
    assert lines[5] == b"C++ standard 202002" and lines[6:] == [b"", b""]


def test_missing_and_unusable_ports_are_not_present(port_dir):
    with open(os.path.join(port_dir, "COM3"), "w") as plain:
        plain.write("not a port\n")
    os.mkdir(os.path.join(port_dir, "COM4"))
    for com in ("7", "3", "4"):
        status, out, _ = run_program(["-p", com, "-b", "9600"], port_dir)
        assert status == 1
        assert out == START_TEXTS + b"COM port hardware not present\r\n" + EXIT_SEQUENCE, com


def test_scan_lists_the_comm_ports_of_the_port_directory(port_dir, pty_board):
    pty_board(COM)
    pty_board(9)
    with open(os.path.join(port_dir, "COM3"), "w") as plain:
        plain.write("\n")
    status, out, _ = run_program(["-l"], port_dir)
    assert status == 0
    assert out == (INIT_TEXTS + b"\r\nChecking COM1 through COM256...\r\n"
                   b"COM9: OK, port exists\r\nCOM200: OK, port exists\r\n"
                   b"\r\n2 port(s) found\r\n" + EXIT_SEQUENCE)


def test_comm_port_byte_wait_ends_with_the_byte_or_after_its_time(probe, pty_board):
    board = pty_board(COM)
    port = probe()
    assert port.do("open %d" % COM) == "0"
    # A byte the board sends 20 ms into a wait of 2 s ends it; it is the next
    # byte read (held by the endpoint, counted as waiting).
    port.send("wait-rx 2000")
    time.sleep(0.02)
    board.send(b"\x5a")
    result, waited = port.result("wait-rx").split()
    assert result == "1" and int(waited) < 1500, (result, waited)
    assert port.do("count") == "1"
    assert port.do("read 1 100") == "5a"
    # No byte: the wait lasts its time.
    result, waited = port.do("wait-rx 100").split()
    assert result == "0" and 99 <= int(waited) < 1000, (result, waited)
    assert port.do("count") == "0"


def start_on_pty(program, pty_board):
    board = pty_board(COM)
    run = program(["-p", str(COM), "-b", "115200"])
    assert run.expect(BANNER + PROMPT, timeout=30) == (
        START_TEXTS + b"Port 200 Flow control not set\r\n" + BANNER + PROMPT)
    return board, run


def test_menu_keys_on_the_windows_console(program, pty_board):
    _, run = start_on_pty(program, pty_board)
    assert run.answer(b"?\r") == b"?\r\n" + HELP + PROMPT
    assert run.answer(b"c\r") == b"c\r\nTemp = -1.00C Humi = -100.00%\r\n" + PROMPT
    # Shift for '?' and a key's release give no code: only the key itself counts.
    assert run.answer(b"zh\r") == b"z\x08h\r\n" + HELP + PROMPT
    # An arrow is two codes, 224 and 72 ('H'): the entry keeps the 'H'.
    assert run.answer(b"\x1b[A\r") == b"\xe0\x08H\r\n" + HELP + PROMPT
    # Escape alone is a character (a pause, or the next key would read as Alt+key).
    run.keys(b"\x1b", pause=0.3)
    assert run.answer(b"\r") == b"\x1b" + PROMPT
    # F1 at the menu prompt ends the run like Ctrl+C.
    run.keys(b"\x1bOP")
    assert run.expect(EXIT_TEXT) == EXIT_TEXT
    assert run.finish() == (1, b"")


def test_settings_through_the_windows_console(program, pty_board):
    _, run = start_on_pty(program, pty_board)
    for keys, shown in menu.SETTINGS_SESSION:
        # One key at a time: wine raises Ctrl+C as an event when it reads it
        # from the terminal, and it is a key only while a prompt reads keys.
        for key in keys[:-1]:
            run.keys(bytes([key]), pause=0.1)
        assert run.answer(keys[-1:]) == keys[:1] + b"\r\n" + shown[2:], keys
    run.keys(b"\x03")
    assert run.expect(EXIT_TEXT) == EXIT_TEXT
    assert run.finish() == (1, b"")


def test_firmware_and_leds_over_the_comm_port(program, pty_board):
    board, run = start_on_pty(program, pty_board)
    run.keys(b"a\r")
    assert board.read_until(b"V\r"), (board.received, run.expect(PROMPT, timeout=5))
    board.send(b"\r\n" + FIRMWARE + b"\r\n")
    assert run.expect(PROMPT) == (b"a\r\n\r\nSpectrometer Firmware = " + FIRMWARE +
                                  b"\r\nFirmware String Found\r\n" + PROMPT)
    run.keys(b"b\r")
    run.expect(b"Enter>")
    run.answer(b"c\r")
    assert board.read_until(b"V\rL4\r")
    run.keys(b"\x03")
    assert run.finish() == (1, EXIT_TEXT)


def test_acquisition_without_modem_lines_reports_the_scan_start_timeout(program, pty_board):
    board, run = start_on_pty(program, pty_board)
    text = run.answer(b"g\r", timeout=30)
    assert text.startswith(b"g\r\n\r\n\r\nPre Scans = 3, Data Scans = 3, Data Scan Period = 650ms\r\n")
    assert text.endswith(b"Scan ERROR, ret = -2\r\n" + PROMPT)
    assert board.read_until(b"E5\rP3\rR3\rI650\rS\r")
    # The report gives the milliseconds waited: the limit, or a little more on
    # a busy machine.
    assert 500 <= (scan_start_wait_ms(run.err) or 0) < 2000, run.err
    run.keys(b"\x03")
    assert run.finish() == (1, EXIT_TEXT)


def test_ctrl_c_during_a_command_ends_the_program_at_once(program, pty_board):
    board, run = start_on_pty(program, pty_board)
    run.keys(b"g\r")
    run.expect(b"Data Scan Period = 650ms\r\n")
    assert board.read_until(b"E5\r")
    started = time.monotonic()
    run.keys(b"\x03")
    # Wine's default handling of Ctrl+C ends the process with status 0
    # (Windows gives 0xC000013A): no exit text, no scan report.
    status, rest = run.finish()
    assert time.monotonic() - started < 10
    assert status == 0 and EXIT_TEXT not in rest and b"Scan ERROR" not in rest
    assert run.err == b""

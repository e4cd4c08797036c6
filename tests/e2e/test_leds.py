"""Menu key B against the simulated board: the LED sub-menu, its commands as the
board sees them, the blink runs and Ctrl+C during one."""
import signal
import termios
import time

import pexpect

SUB_MENU = ("\n Select LED State:\n [A] LED1 ON\n [B] LED1 OFF\n [C] LED2 ON\n [D] LED2 OFF\n"
            " [E] LED1 BLINK\n [F] LED2 BLINK\n Enter>")


def commands(sim):
    return [event["text"] for event in sim.events("command")]


def leds(sim):
    return [(event["led"], event["on"]) for event in sim.events("led")]


def open_sub_menu(session):
    session.keys("b\r")
    return session.expect(rb"Enter>")


def test_each_key_sends_its_command(board):
    sim, session = board()
    text = open_sub_menu(session)
    assert text.endswith(SUB_MENU[:-len("Enter>")])
    for key in "aBcD":
        if key != "a":
            open_sub_menu(session)
        session.command(key + "\r")
    # LED1 on is L2: the odd command switches off, the even one on.
    assert commands(sim) == ["L2", "L1", "L4", "L3"]
    assert leds(sim) == [(1, True), (1, False), (2, True), (2, False)]


def test_no_selection_is_invalid(board):
    sim, session = board()
    open_sub_menu(session)
    # A key outside A-F asks again: the whole sub-menu, no message.
    session.keys("z\r")
    text = session.expect(rb"Enter>")
    assert text == "z" + SUB_MENU[:-len("Enter>")]
    session.keys("\r")
    text = session.expect(b"ZORVI_DLK>")
    assert text.startswith("\n\nInvalid Selection!\n")
    # The alert beep (the terminal bell here) follows the message.
    assert b"Invalid Selection!\r\n\x07" in session.child.before
    # Ctrl+C at the sub-menu selects nothing either; the program goes on.
    open_sub_menu(session)
    text = session.command("\x03")
    assert text.startswith("\n\nInvalid Selection!\n")
    assert session.child.isalive()
    assert commands(sim) == []


def test_blink_run_is_one_hundred_pairs_ending_off(board):
    sim, session = board()
    open_sub_menu(session)
    started = time.monotonic()
    text = session.command("e\r", timeout=60)
    took = time.monotonic() - started
    assert "\nBLINKING LED1 100 TIMES\n" in text
    assert took >= 10.0
    assert commands(sim) == ["L2", "L1"] * 100
    assert leds(sim)[-1] == (1, False)


def test_ctrl_c_during_a_blink_run_ends_the_program_at_once(board):
    sim, session = board()
    open_sub_menu(session)
    session.keys("f\r")
    session.expect(rb"BLINKING LED2 100 TIMES")
    assert sim.wait_for_event(lambda event: event.get("text") == "L3", timeout=5)
    started = time.monotonic()
    session.child.send("\x03")
    session.child.expect(pexpect.EOF, timeout=5)
    session.child.wait()
    assert time.monotonic() - started < 2.0
    assert session.child.signalstatus == signal.SIGINT
    sent = len(commands(sim))
    assert 2 <= sent < 200
    # The terminal is back in its ordinary line mode.
    attributes = termios.tcgetattr(session.child.child_fd)
    lflag = attributes[3]
    assert lflag & termios.ICANON and lflag & termios.ECHO and lflag & termios.ISIG
    time.sleep(0.3)
    assert len(commands(sim)) == sent

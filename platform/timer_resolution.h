// The system timer's resolution while a board is open through the library:
// every CTS poll of an acquisition is a 1 ms pause, which Windows' default
// 15.6 ms tick would stretch. The interactive program raises it for its whole
// life at start-up; the library, which has no start-up, for each open board.
#pragma once

// Raises the resolution to 1 ms (Windows; nothing elsewhere). Each raise is
// paired with one release; the system counts them.
void timer_resolution_raise();
void timer_resolution_release();

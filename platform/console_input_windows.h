// The Windows console input behind the key reader: set up once at start-up.
#pragma once

// Opens CONIN$, peeks at it once (input is raw from then on, so keys typed
// before the first prompt are not line-edited) and installs the console
// control handler that turns Ctrl+C into a key while a key read waits.
void console_input_start();

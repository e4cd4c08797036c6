// What the platform needs once, when the program starts, before it opens any
// port or reads any key.
#pragma once

void platform_process_start();

// A tone of a given frequency and duration; returns when the duration has passed.
#pragma once

void platform_beep(unsigned frequency_hz, unsigned duration_ms);

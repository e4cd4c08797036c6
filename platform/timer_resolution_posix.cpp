#include "platform/timer_resolution.h"

// Sleeps here are as fine as the kernel's timers already.
void timer_resolution_raise() {}

void timer_resolution_release() {}

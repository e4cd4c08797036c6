#pragma once

#include "serial/serial_service.h"

// Menu command B: the LED sub-menu; always 0.
int set_status_leds(PortIndex port);

#pragma once

#include "serial/serial_service.h"

// Menu command A: the firmware line, then whether the board's signature was found.
void firmware_command(PortIndex port);

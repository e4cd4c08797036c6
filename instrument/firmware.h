#pragma once

#include "serial/serial_service.h"

int query_firmware(PortIndex port);
void firmware_command(PortIndex port);
int set_status_leds(PortIndex port);

#pragma once

#include "serial/serial_service.h"

[[noreturn]] void run_menu(PortIndex port);

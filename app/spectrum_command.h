#pragma once

#include "instrument/scan_settings.h"
#include "serial/serial_service.h"

void spectrum_command(PortIndex port, const ScanSettings& settings);

// The operator's message for each SerialStatus code, as the program prints it.
#pragma once

#include "serial/serial_service.h"

// The message with its line end (-102 has none: the exit sequence's text
// follows on its line), or nullptr for -103, whose text comes from the
// operating system, and for codes without a message.
const char* serial_message(SerialStatus code);

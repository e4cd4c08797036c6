#include "serial/telnet_parser.h"

#include "app/menu.h"

#include <cstdio>
#include <cstdlib>

void run_menu(PortIndex) {
    std::fflush(stdout);
    std::exit(0);
}

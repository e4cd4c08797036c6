// zorvidlk: console controller for the spectrometer board on a serial line.
// Reads the command line, answers -v and -l, or opens the port and hands over
// to the menu loop.
#include "app/command_line.h"
#include "app/menu.h"
#include "app/version_report.h"
#include "platform/process_start.h"
#include "serial/connection.h"
#include "serial/port_scan.h"
#include "serial/serial_service.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    platform_process_start();
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "zorvidlk";
    const StartRequest request = read_command_line(argc, argv);
    switch (request.action) {
    case StartAction::bad_option:
        std::fprintf(stderr, "Usage: %s -p Port -B Baud | -l | -v\n", program);
        return 0;
    case StartAction::wrong_shape:
        std::fprintf(stderr, "Usage: %s -p Port -b Baud | -l | -v\n", program);
        return 0;
    case StartAction::port_range:
        std::printf("Error, Port Range = [1,256]\n");
        return 0;
    case StartAction::baud_unknown:
        std::printf("Error, Unrecognized Baud Rate: %s\n", request.bad_text);
        return 0;
    case StartAction::version:
        write_version_report(stdout);
        return 0;
    case StartAction::scan:
        scan_ports();
    case StartAction::run:
        break;
    }
    std::printf("\n\n***Initializing Communications***\n");
    init_serial();
    open_port(request.port, request.baud);
    serial_rts(request.port, 'S');
    std::printf("\n*** ZORVI DLK Demo [?] for Help [^C] to Exit ***\n\n");
    std::fflush(stdout);
    run_menu(request.port);
}

// zorvidlk: console controller for the spectrometer board on a serial line.
// Reads the command line, answers -v and -l, or opens the port and hands over
// to the menu loop.
#include "app/command_line.h"
#include "app/menu.h"
#include "app/version_report.h"
#include "serial/connection.h"
#include "serial/port_scan.h"
#include "serial/serial_service.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A standard stream that the caller closed would lend its descriptor number to
// the serial port opened later: the board would then get the console text, or
// its bytes would be read as keys. Each closed one is held open on /dev/null
// (read as an end of input, written to nowhere).
void hold_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lower numbers are open by now, so open() takes this one.
            open("/dev/null", O_RDWR);
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    hold_standard_streams();
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

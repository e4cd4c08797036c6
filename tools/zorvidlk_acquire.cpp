// zorvidlk-acquire: unattended series of acquisitions into CSV or JSON Lines,
// written one complete record at a time, on the board's C library.
#include "tools/csv_format.h"
#include "tools/dark_file.h"
#include "tools/existing_output.h"
#include "tools/options.h"
#include "tools/output_file.h"
#include "tools/progress.h"
#include "tools/series.h"
#include "tools/stop_control.h"
#include "tools/stop_signal.h"

#include <zorvidlk/zorvidlk.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int usage_error(const std::string& text) {
    std::fprintf(stderr, "zorvidlk-acquire: %s\n", text.c_str());
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv) {
    static StopControl stop; // outlives main: the signal thread may still call it
    stop_signal_install([](int number) { stop.request(number); });

    AcquireOptions options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    switch (parse_acquire_options(args, options, error)) {
    case ParseResult::help:
        std::fputs(acquire_usage(), stdout);
        return 0;
    case ParseResult::version:
        std::printf("zorvidlk-acquire %s\n", zv_version());
        return 0;
    case ParseResult::error:
        return usage_error(error);
    case ParseResult::run:
        break;
    }

    DarkSpectrum dark{};
    if (!options.dark.empty() && !read_dark_file(options.dark, dark, error)) {
        return usage_error("--dark " + options.dark +
                           " is not a spectrum written by zorvidlk-acquire: " + error);
    }
    if (!options.output.empty() &&
        !output_accepts_run(options.output, options.format,
                            csv_column_header(options.data_scans, options.average), error)) {
        return usage_error(error);
    }
    OutputFile output;
    if (!output_open(options.output, output, error)) {
        return usage_error("cannot create " + options.output + ": " + error +
                           "; give a file in a directory you can write to");
    }

    ProgressLine progress;
    progress.enabled = !options.quiet && stderr_is_terminal();
    const int status =
        run_series(options, options.dark.empty() ? nullptr : &dark, output, stop, progress);
    output_close(output);
    return status;
}

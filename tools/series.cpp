#include "tools/series.h"

#include "tools/csv_format.h"
#include "tools/jsonl_format.h"

#include <zorvidlk/zorvidlk.h>

#include <cmath>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

int64_t utc_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string failure_text(const zv_board* board, int status) {
    const char* text = zv_error_text(board);
    return *text != '\0' ? text : zv_status_text(status);
}

struct Series {
    const AcquireOptions& options;
    const DarkSpectrum* dark;
    OutputFile& output;
    StopControl& stop;
    ProgressLine& progress;
    RunInfo run;
    SeriesCounts counts;
    zv_board* board = nullptr;
    Clock::time_point begun = Clock::now();
    double last_s = -1;
};

void show_progress(Series& series, double next_in_s) {
    progress_show(series.progress, progress_text(series.counts, series.options.count,
                                                 series.options.forever, series.last_s, next_in_s));
}

// Waits until `deadline`, the progress line counting down; true when stopped.
bool wait_for(Series& series, Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        show_progress(series, seconds_between(Clock::now(), deadline));
        const Clock::time_point step =
            series.progress.enabled ? std::min(deadline, Clock::now() + std::chrono::seconds(1))
                                    : deadline;
        if (series.stop.wait_until(step)) {
            return true;
        }
    }
    return series.stop.signal() != 0;
}

// Opens the board and reads its firmware text; 0 or the failing status,
// with `text` saying why.
int open_board(Series& series, std::string& text) {
    zv_board* board = nullptr;
    int status = zv_open(series.options.port.c_str(), series.options.baud, &board);
    if (status != ZV_OK) {
        text = failure_text(nullptr, status);
        return status;
    }
    char firmware[128];
    status = zv_firmware(board, firmware, sizeof firmware);
    if (status != ZV_OK) {
        text = failure_text(board, status);
        zv_close(board);
        return status;
    }
    series.board = board;
    series.run.firmware = firmware;
    return ZV_OK;
}

void close_board(Series& series) {
    zv_close(series.board);
    series.board = nullptr;
}

bool write_out(Series& series, const std::string& data, int& exit_status) {
    std::string error;
    if (series.output.fd >= 0 && output_write_all(series.output, data, error)) {
        return true;
    }
    report_line(series.progress, "zorvidlk-acquire: cannot write to " +
                                     (series.options.output.empty() ? std::string("standard output")
                                                                    : series.options.output) +
                                     ": " + error + "; the records before this one are complete");
    exit_status = EXIT_OUTPUT;
    return false;
}

enum class Recovery { back, gave_up, stopped };

// The board is gone: opens the port again every second for up to
// --retry-for seconds.
Recovery recover(Series& series, const std::string& why) {
    close_board(series);
    const Clock::time_point lost = Clock::now();
    report_line(series.progress, "board lost on " + series.options.port + " at " +
                                     iso8601_utc_s(utc_now_ms()) + ": " + why + "; retrying for " +
                                     number_text(series.options.retry_for_s) + " s");
    const Clock::time_point give_up = lost + seconds(series.options.retry_for_s);
    while (true) {
        const Clock::time_point next = std::min(give_up, Clock::now() + std::chrono::seconds(1));
        if (series.options.retry_for_s <= 0) {
            break;
        }
        if (wait_for(series, next)) {
            return Recovery::stopped;
        }
        std::string text;
        if (open_board(series, text) == ZV_OK) {
            ++series.counts.reconnects;
            report_line(series.progress,
                        "board back on " + series.options.port + " at " +
                            iso8601_utc_s(utc_now_ms()) + " after " +
                            number_text(std::round(seconds_between(lost, Clock::now()) * 10) / 10) +
                            " s");
            return Recovery::back;
        }
        if (Clock::now() >= give_up) {
            break;
        }
    }
    report_line(series.progress, "board not back on " + series.options.port + " after " +
                                     number_text(series.options.retry_for_s) + " s; giving up");
    return Recovery::gave_up;
}

std::string format_record(const Series& series, const Record& record) {
    return series.options.format == OutputFormat::csv ? csv_record(record)
                                                      : jsonl_record(series.run, record);
}

} // namespace

CadenceStep cadence_next(Clock::time_point series_start, double every_s, uint64_t slot,
                         Clock::time_point now) {
    CadenceStep step;
    if (every_s <= 0) {
        step.slot = slot + 1;
        step.start = now;
        return step;
    }
    const double elapsed = seconds_between(series_start, now);
    const auto latest = static_cast<uint64_t>(std::max(0.0, std::floor(elapsed / every_s)));
    if (latest <= slot) {
        step.slot = slot + 1;
        step.start = series_start + seconds(every_s * static_cast<double>(step.slot));
        return step;
    }
    step.slot = latest;
    step.start = now;
    step.skipped = latest - slot - 1;
    return step;
}

int run_series(const AcquireOptions& options, const DarkSpectrum* dark, OutputFile& output,
               StopControl& stop, ProgressLine& progress) {
    Series series{options, dark, output, stop, progress, {}, {}};
    series.run.version = zv_version();
    series.run.port = options.port;
    series.run.baud = options.baud;
    series.run.pre_scans = options.pre_scans;
    series.run.data_scans = options.data_scans;
    series.run.period_ms = options.period_ms;
    series.run.average = options.average;
    series.run.dark_path = options.dark;

    std::string why;
    const int opened = open_board(series, why);
    if (opened != ZV_OK) {
        report_line(progress, "zorvidlk-acquire: cannot use the board on " + options.port + ": " +
                                  why + " (code " + std::to_string(opened) + ")");
        return stop.signal() != 0 ? 128 + stop.signal() : EXIT_PORT;
    }
    int exit_status = EXIT_ALL_WRITTEN;
    series.run.start_utc_ms = utc_now_ms();
    if (options.format == OutputFormat::csv && stop.signal() == 0) {
        std::string block = csv_run_comment(series.run);
        if (output.empty) {
            block += csv_column_header(options.data_scans, options.average) + "\n";
        }
        if (!write_out(series, block, exit_status)) {
            close_board(series);
            return exit_status;
        }
    }

    zv_settings settings = ZV_SETTINGS_DEFAULT;
    settings.pre_scans = options.pre_scans;
    settings.data_scans = options.data_scans;
    settings.period_ms = options.period_ms;
    Record record;
    record.scans.resize(static_cast<size_t>(options.data_scans) * ZV_PIXELS);
    const Clock::time_point series_start = Clock::now();
    uint64_t slot = 0;
    bool ended = false;
    for (uint64_t number = 1; !ended && (options.forever || number <= options.count); ++number) {
        if (number > 1) {
            const CadenceStep step =
                cadence_next(series_start, options.every_s, slot, Clock::now());
            slot = step.slot;
            series.counts.skipped_slots += step.skipped;
            if (wait_for(series, step.start)) {
                break;
            }
        }
        if (stop.signal() != 0) {
            break;
        }
        series.counts.attempted = number;
        show_progress(series, -1);
        zv_acquisition info{};
        info.size = sizeof info;
        const Clock::time_point began = Clock::now();
        stop.set_busy_board(series.board);
        const int status =
            zv_acquire(series.board, &settings, record.scans.data(), record.scans.size(), &info);
        stop.set_busy_board(nullptr);
        series.last_s = seconds_between(began, Clock::now());
        if (status == ZV_OK) {
            record.number = number;
            record.start_utc_ms = info.start_utc_ms;
            record.end_utc_ms = info.end_utc_ms;
            record.pre_scans = info.settings.pre_scans;
            record.data_scans = info.settings.data_scans;
            record.period_ms = info.settings.period_ms;
            record.mean.clear();
            if (options.average) {
                record.mean = pixel_mean(record.scans, record.data_scans);
            }
            if (dark != nullptr) {
                subtract_dark(record, *dark);
            }
            if (!write_out(series, format_record(series, record), exit_status)) {
                break;
            }
            ++series.counts.written;
            continue;
        }
        if (status == ZV_ERR_CANCELLED && stop.signal() != 0) {
            break;
        }
        ++series.counts.failed;
        const bool more = options.forever || number < options.count;
        if (status == ZV_ERR_PORT_LOST && more) {
            switch (recover(series, failure_text(series.board, status))) {
            case Recovery::back:
                break;
            case Recovery::gave_up:
                ended = true;
                break;
            case Recovery::stopped:
                ended = true;
                break;
            }
            continue;
        }
        report_line(progress, "acquisition " + std::to_string(number) +
                                  " failed: " + failure_text(series.board, status) + " (code " +
                                  std::to_string(status) + ")");
    }
    if (series.board != nullptr) {
        close_board(series);
    }
    const double elapsed = seconds_between(series.begun, Clock::now());
    std::string how = "done";
    if (stop.signal() != 0 && exit_status != EXIT_OUTPUT) {
        exit_status = 128 + stop.signal();
        how = stop.signal() == 2 ? "stopped by SIGINT" : "stopped by SIGTERM";
    } else if (exit_status == EXIT_OUTPUT) {
        how = "ended by the write failure";
    } else if (series.counts.failed != 0) {
        exit_status = EXIT_SOME_FAILED;
    }
    report_line(progress, "zorvidlk-acquire: " + how + ": " + summary_text(series.counts, elapsed));
    return exit_status;
}

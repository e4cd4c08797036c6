// Appending to a file that already holds a series: its columns (CSV) or its
// kind (JSON Lines) must match this run's.
#pragma once

#include "tools/options.h"

#include <string>

// True when `path` is missing, empty or holds records this run can follow;
// false with `error` naming what it holds. `csv_header` is this run's.
bool output_accepts_run(const std::string& path, OutputFormat format, const std::string& csv_header,
                        std::string& error);

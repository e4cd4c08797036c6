// CSV: one table for the whole file. Each run starts with a block of "#"
// lines; the column header comes once, when the file is new or empty; then
// 256 rows an acquisition: acquisition,start,pixel,scan1,...,scanN[,mean].
#pragma once

#include "tools/record.h"

#include <string>

// "acquisition,start,pixel,scan1,...,scanN[,mean]" (no line end).
std::string csv_column_header(uint16_t data_scans, bool average);

// The run's "#" block, each line ending in "\n".
std::string csv_run_comment(const RunInfo& run);

// The record's 256 rows.
std::string csv_record(const Record& record);

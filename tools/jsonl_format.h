// JSON Lines: one object an acquisition, on one line.
#pragma once

#include "tools/record.h"

#include <string>

// `text` as a JSON string, quotes included.
std::string json_string(const std::string& text);

// {"acquisition": n, "start": ..., "end": ..., "port": ..., "firmware": ...,
//  "settings": {...}, "scans": [[...], ...][, "mean": [...]][, "dark": ...]}
// and "\n".
std::string jsonl_record(const RunInfo& run, const Record& record);

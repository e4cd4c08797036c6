// Reading back a file this tool wrote (either format): the dark reference is
// the per-pixel mean of its first acquisition's scans, rounded to the nearest
// integer.
#pragma once

#include "tools/record.h"

#include <string>

// True with `dark` filled; false with `error` saying why the file is not one.
bool read_dark_file(const std::string& path, DarkSpectrum& dark, std::string& error);

// The same from the file's text (either format).
bool parse_dark_text(const std::string& text, DarkSpectrum& dark, std::string& error);

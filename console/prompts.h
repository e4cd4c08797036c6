// Prompts and operator messages.
#pragma once

#include <cstdint>

int prompt_key(const char* text, char default_key, const char* allowed, char* out);
int prompt_yes_no(const char* text, int default_yes);
// Formats are "%lu": 32-bit unsigned whatever the width of long here.
int prompt_value(const char* text, const char* show_format, const char* parse_format,
                 uint32_t* value);
void report_failure(const char* name, int32_t code);
void report_range_error(int32_t low, int32_t high);
void alert_beep();

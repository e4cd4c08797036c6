#pragma once

// Reads one entry from the operator: 1 on Enter (buffer holds the entry),
// 0 on a cancel (buffer holds the empty text).
int edit_line(char* buffer, short size);

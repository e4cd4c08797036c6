// The -v request: how this program was built and which serial service it uses.
#pragma once

#include <cstdio>

// "ZVS  version %d.%d.%d (Build %d)" and the build's compiler and language lines.
void write_version_report(std::FILE* out);

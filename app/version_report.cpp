#include "app/version_report.h"

#include "serial/serial_service.h"
#include "serial/service_version.h"

namespace {

// The compiler that built this program, with its version.
void write_compiler(std::FILE* out) {
#if defined(__clang__)
    std::fprintf(out, "Clang %d.%d.%d", __clang_major__, __clang_minor__, __clang_patchlevel__);
#elif defined(__GNUC__)
    std::fprintf(out, "GCC %d.%d.%d", __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
#else
    std::fprintf(out, "unknown compiler 0.0.0");
#endif
}

// The target the program was built for, as architecture-system-ABI.
constexpr const char* TARGET =
#if defined(__x86_64__)
    "x86_64"
#elif defined(__aarch64__)
    "aarch64"
#elif defined(__i386__)
    "i386"
#elif defined(__arm__)
    "arm"
#elif defined(__riscv)
    "riscv"
#else
    "unknown"
#endif
#if defined(__linux__)
    "-linux"
#elif defined(_WIN32)
    "-windows"
#else
    "-unknown"
#endif
#if defined(__GLIBC__)
    "-gnu"
#elif defined(__MINGW64__)
    "-mingw-w64"
#endif
    ;

} // namespace

void write_version_report(std::FILE* out) {
    const VersionNumbers version = split_version_word(serial_info('V'));
    const int build = serial_info('B');
    std::fprintf(out, "\nBuild: %s Date: %s %s\n\n", "zorvidlk", __DATE__, __TIME__);
    write_compiler(out);
    std::fprintf(out, " (%s)\n", TARGET);
    std::fprintf(out, "ZVS  version %d.%d.%d (Build %d)\n", version.major_number,
                 version.minor_number, version.patch_number, build);
    std::fprintf(out, "C++ standard %ld\n\n", static_cast<long>(__cplusplus));
}

# Cross-compiles the Windows build (x86_64) on Debian with mingw-w64. The posix
# threading compilers are named: the plain names point at the win32 model,
# with which std::thread and std::mutex do not compile.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORVIDLK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORVIDLK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVIDLK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVIDLK_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVIDLK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run through wine, and only inside the masked session of
# scripts/wine-session.sh: the emulator refuses to start wine anywhere else.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)

# A static executable imports only system DLLs: without it the program needs
# the compiler's runtime DLLs next to it (and exits silently under wine).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread and std::mutex need).
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Programs are linked statically (the C++ runtime and winpthreads included), so kzb.exe and the test
# programs run on Windows, or under Wine, without any DLL beside them. Tests run through Wine when it is
# installed (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KZB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KZB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KZB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KZB_MINGW_PREFIX}-windres)

# Look for libraries and headers only in the target's tree, programs only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KZB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(KZB_WINE NAMES wine64 wine)
if(KZB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KZB_WINE})
endif()

# -O2 as the native optimised build uses; g++ 12 at -O3 reports false -Wrestrict overlaps in std::string.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of the optimised build")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of the optimised build")

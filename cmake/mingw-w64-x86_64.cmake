# Cross build of the native Windows x64 programs with Debian's mingw-w64 (the
# posix-threaded compilers, for std::thread), run under wine.
#
#   cmake -S . -B build-windows \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DRSCDC_WINDOWS_DEPS=$(scripts/win-deps)
#
# RSCDC_WINDOWS_DEPS is the folder where scripts/win-deps installed the
# cross-built libcrypto and GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RSCDC_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RSCDC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RSCDC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RSCDC_MINGW_TRIPLET}-windres)

# try_compile projects read this file again and need the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RSCDC_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${RSCDC_MINGW_TRIPLET})
if(RSCDC_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${RSCDC_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: the C and C++ runtimes and winpthreads are linked
# in, so only Windows' own DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# printf-style formats (%zu, %llu) as the C standard has them, not as the old
# msvcrt does.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# Debian 12 has no wine64 on PATH; the 64-bit loader lives here. Programs that
# the build runs (test discovery) use a wine prefix of the build tree's own, so
# nothing is written to the user's ~/.wine.
find_program(RSCDC_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RSCDC_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all ${RSCDC_WINE64})
endif()

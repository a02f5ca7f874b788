# Cross-compiles for 32-bit Windows with mingw-w64 (Debian's g++-mingw-w64-i686-posix).
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
#         -DMENDORA_WINDOWS_DEPS=<prefix>   # the cross-built GoogleTest (see build-windows)
#
# The posix thread model gives the C++ library its threading types (GoogleTest needs them);
# with the static runtime below, winpthread is linked in like the rest and every binary
# needs no DLL beyond the system's. SSE2 floating point comes from CompilerFlags.cmake
# (it keys on the 32-bit processor set here).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MENDORA_WINDOWS_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MENDORA_WINDOWS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MENDORA_WINDOWS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MENDORA_WINDOWS_TRIPLE}-windres)
set(CMAKE_AR ${MENDORA_WINDOWS_TRIPLE}-ar CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${MENDORA_WINDOWS_TRIPLE}-ranlib CACHE FILEPATH "archive indexer")

# Static C and C++ runtime for every executable and library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Look for libraries and headers only in the cross environment and in the prefix holding the
# cross-built dependencies, never in the build machine's own /usr; programs come from the
# build machine. MENDORA_WINDOWS_DEPS is passed on to the compiler checks' inner projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MENDORA_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${MENDORA_WINDOWS_TRIPLE})
if(MENDORA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MENDORA_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

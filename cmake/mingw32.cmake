# 32-bit Windows with MinGW-w64, on a Linux machine; test programs run under Wine.
#
# The "-posix" flavour of the compiler is used: the default "-win32" flavour has no
# std::thread or std::mutex. Everything is linked statically, so the DLL and the test
# programs import only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(B58_MINGW_TRIPLE i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${B58_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${B58_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${B58_MINGW_TRIPLE}-windres REQUIRED)
find_program(B58_MINGW_OBJDUMP NAMES ${B58_MINGW_TRIPLE}-objdump REQUIRED)

# Headers and libraries come from the target's tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${B58_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 arithmetic, not the x87's: the x87 keeps intermediates in 80 bits, so the same
# floating-point source (the shading maps, the virtual scanner's sensor model) would round
# differently here than in the 64-bit builds, and the images of the two builds would differ.
# Every processor the supported Windows versions run on has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the test programs, in a prefix of its own inside the build tree so that it never
# meets the user's ~/.wine. The test fixture "wine" (tests/CMakeLists.txt) creates the prefix
# once and keeps one wineserver running while the Windows tests run; without it every program
# would wait seconds for Wine's helper processes to start and stop.
find_program(B58_WINE NAMES wine)
find_program(B58_WINESERVER NAMES wineserver)
find_program(B58_WINEBOOT NAMES wineboot)
set(B58_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the Windows tests")
set(B58_WINE_ENVIRONMENT
    "WINEPREFIX=${B58_WINEPREFIX}"
    "WINEARCH=win32"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")
if(B58_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${B58_WINE_ENVIRONMENT} ${B58_WINE})
endif()

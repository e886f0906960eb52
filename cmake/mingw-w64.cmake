# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread needs). Programs link statically, so they import only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QVX_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Tests and test discovery run the programs under Wine, in the build tree's own prefix and without
# Wine's menu builder, which would copy the installer's Start-menu entries into the user's desktop
# menus (the Makefile's test-windows sets the same). Tests that start Wine themselves get these
# too (QVX_WINE_ENV).
find_program(QVX_WINE wine REQUIRED)
find_program(QVX_ENV env REQUIRED)
set(QVX_WINE_ENV WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QVX_ENV} ${QVX_WINE_ENV} ${QVX_WINE})

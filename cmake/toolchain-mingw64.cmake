# Cross-building for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix):
#   cmake --preset windows
# Qt for Windows comes from scripts/build-qt-windows.sh; the preset points CMAKE_PREFIX_PATH at it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OSTROVE_MINGW_TRIPLE x86_64-w64-mingw32)

# The posix thread model, named explicitly: the win32 one has no std::thread or std::mutex, and
# whichever variant was installed last owns the unsuffixed names.
set(CMAKE_C_COMPILER ${OSTROVE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTROVE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTROVE_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages only from the mingw root and the prefixes we are given
# (Qt's), never the native ones in /usr; programs (moc, rcc, uic, the host's tools) natively.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTROVE_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Our programs carry the GCC runtime and winpthread inside, so an .exe of ours needs no
# libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll of its own. With -static the linker
# takes the static winpthread; the DLL import libraries (Qt's, the system's) still link the DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# try_run and ctest start the .exe files with Wine.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh
                       ABSOLUTE)

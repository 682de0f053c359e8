#!/bin/sh
# Runs a Windows program with Debian's Wine: the cross build's CMAKE_CROSSCOMPILING_EMULATOR.
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
# Wine's own messages are off unless WINEDEBUG says otherwise. Wine passes no QT_* variable to the
# program: give them as WINEQT_* (WINEQT_QPA_PLATFORM=minimal arrives as QT_QPA_PLATFORM=minimal).
# WINEPREFIX chooses the Wine prefix, as for wine itself.
WINEDEBUG=${WINEDEBUG:--all}
export WINEDEBUG
exec /usr/bin/wine "$@"

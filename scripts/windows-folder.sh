#!/usr/bin/env bash
# Builds the Windows programs and makes the folder a person unpacks and runs on Windows, and its
# zip: OstroveConf.exe, ostrove-reg.exe, Ostrove.lng, the Qt DLLs and plug-ins, all stripped.
#   scripts/windows-folder.sh            -> build-windows/OstroveConf-windows/ and .zip
# Qt for Windows is built first when it is not cached (scripts/build-qt-windows.sh, ~27 min).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build-qt-windows.sh
cmake --preset windows -DCMAKE_PREFIX_PATH="$(scripts/build-qt-windows.sh --prefix)" >/dev/null
cmake --build --preset windows -j2 --target OstroveConf ostrove-reg

folder=build-windows/OstroveConf-windows
rm -rf "$folder" "$folder.zip"
cmake --install build-windows --prefix "$folder" >/dev/null
# Debug sections are most of a DLL's size and no use to a person running it.
find "$folder" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded
(cd "$(dirname "$folder")" && zip -qr9 "$(basename "$folder").zip" "$(basename "$folder")")
du -sh "$folder" "$folder.zip"

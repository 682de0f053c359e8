#!/bin/sh
# Makes a fresh Wine prefix for running the Windows build's programs and tests headless:
#   scripts/wine-prefix.sh DIR [gui]
# DIR is emptied first. Without "gui" the prefix draws nothing (the null graphics driver), so no
# X server is needed; with it the programs show real windows on $DISPLAY. A crash ends the
# program instead of waiting behind a hidden dialog. Wine's background programs (services.exe,
# explorer, ...) are started here with their output going nowhere, so that a test runner waiting
# for a test's output is not kept waiting for them. Stop them with: WINEPREFIX=DIR wineserver -k
set -eu
dir=${1:?usage: wine-prefix.sh DIR [gui]}
mode=${2:-}
export WINEPREFIX="$dir" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
# Wine says nothing useful here when all goes well; when a step fails, its output is shown.
quietly() {
    if ! "$@" >"$dir/tmp/step.log" 2>&1; then
        echo "wine-prefix: failed: $*" >&2
        cat "$dir/tmp/step.log" >&2
        return 1
    fi
}
make_prefix() {
    mkdir -p "$dir"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$dir"
    mkdir -p "$dir/tmp"
    quietly wine wineboot --init || return 1
    quietly wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        || return 1
    if [ "$mode" != gui ]; then
        quietly wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || return 1
    fi
    # The driver is read when the wineserver starts; the lock is flock -o so that the
    # long-lived processes started under it do not keep holding it.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    quietly flock -o "$dir/.start-lock" sh -c 'wineserver -p; wine cmd /c exit' </dev/null
}
export TMPDIR="$dir/tmp"
# Making a prefix seldom fails, and then for reasons of Wine's own start-up, not of our programs:
# it is made once more before the run is given up.
if ! make_prefix; then
    echo "wine-prefix: making $dir once more" >&2
    make_prefix
fi

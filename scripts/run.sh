#!/usr/bin/env bash
# Builds OstroveConf and starts it. Without a display it starts it under a virtual X server,
# saves a screenshot of the window to build/screenshot.png, and ends it again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/dependencies.sh
cmake --preset release >/dev/null
cmake --build --preset release

if [ "$(id -u)" = 0 ]; then default_store=/var/lib/ostrove/registry.db
else default_store=${XDG_CONFIG_HOME:-$HOME/.config}/ostrove/registry.db; fi
echo "Settings store: ${OSTROVE_REGISTRY:-$default_store} (set OSTROVE_REGISTRY to use another file)"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/OstroveConf
fi

echo "No display: starting OstroveConf under Xvfb for a screenshot."
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    build/OstroveConf &
    program=$!
    sleep 3
    import -window root build/screenshot-full.png
    kill "$program"
    wait "$program" 2>/dev/null || true
'
convert build/screenshot-full.png -trim build/screenshot.png
rm -f build/screenshot-full.png
echo "The window as it came up: build/screenshot.png"

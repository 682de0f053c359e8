#!/usr/bin/env bash
# Time to the first shown main window and peak memory, next to a bare Qt program, offscreen.
# Usage: bench/startup.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$1
runs=${2:-21}
export QT_QPA_PLATFORM=offscreen
export OSTROVE_REGISTRY
OSTROVE_REGISTRY=$(mktemp -d)/registry.db

measure() {
    local program=$1 times=() memory=()
    for _ in $(seq "$runs"); do
        local start end rss
        start=$(date +%s%N)
        rss=$("$program" 2>/dev/null)
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
        memory+=("$rss")
    done
    local median_time median_memory
    median_time=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    median_memory=$(printf '%s\n' "${memory[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    echo "$median_time $median_memory"
}

read -r ours_time ours_memory < <(measure "$build/bench/startup_ostrove")
read -r bare_time bare_memory < <(measure "$build/bench/startup_bare")
echo "Start-up to the first shown window (median of $runs runs, offscreen; target <= 1.2)"
awk -v a="$ours_time" -v b="$bare_time" 'BEGIN { printf "time:   OstroveConf %.1f ms, bare Qt program %.1f ms, ratio %.2f\n", a / 1000, b / 1000, a / b }'
awk -v a="$ours_memory" -v b="$bare_memory" 'BEGIN { printf "memory: OstroveConf %.1f MB, bare Qt program %.1f MB, ratio %.2f\n", a / 1024, b / 1024, a / b }'

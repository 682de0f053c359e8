#!/usr/bin/env bash
# Time to the first shown main window and peak memory, next to a bare Qt program, offscreen.
# The two programs take turns, so that a machine that slows down or speeds up meanwhile weighs
# on both alike.
# Usage: bench/startup.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$1
runs=${2:-21}
export QT_QPA_PLATFORM=offscreen
export OSTROVE_REGISTRY
OSTROVE_REGISTRY=$(mktemp -d)/registry.db
# A start as on every day but the first: the store is there already.
"$build/bench/startup_ostrove" >/dev/null 2>&1 || true

declare -A times memory took
ratios=""
for _ in $(seq "$runs"); do
    for program in startup_ostrove startup_bare; do
        start=$(date +%s%N)
        rss=$("$build/bench/$program" 2>/dev/null)
        end=$(date +%s%N)
        took[$program]=$(((end - start) / 1000))
        times[$program]+="${took[$program]} "
        memory[$program]+="$rss "
    done
    # Each turn's own ratio: a slow spell of the machine weighs on both of its runs alike.
    ratios+="$(awk -v a="${took[startup_ostrove]}" -v b="${took[startup_bare]}" 'BEGIN { printf "%.4f", a / b }') "
done

median() { printf '%s\n' $1 | sort -n | sed -n "$(((runs + 1) / 2))p"; }
ours_time=$(median "${times[startup_ostrove]}")
bare_time=$(median "${times[startup_bare]}")
ours_memory=$(median "${memory[startup_ostrove]}")
bare_memory=$(median "${memory[startup_bare]}")
echo "Start-up to the first shown window (median of $runs runs each, in turns, offscreen; target <= 1.2)"
awk -v a="$ours_time" -v b="$bare_time" -v r="$(median "$ratios")" 'BEGIN { printf "time:   OstroveConf %.1f ms, bare Qt program %.1f ms, ratio %.2f (median of the turns'"'"' own ratios %.2f)\n", a / 1000, b / 1000, a / b, r }'
awk -v a="$ours_memory" -v b="$bare_memory" 'BEGIN { printf "memory: OstroveConf %.1f MB, bare Qt program %.1f MB, ratio %.2f\n", a / 1024, b / 1024, a / b }'

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one: for FUZZ_SECONDS seconds each
# (15 by default), or for ten million runs each with OSTROVE_LONG=1. The corpora in
# tests/fuzz/corpus are the seeds; what the runs find stays in build-fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/dependencies.sh
# The fuzz preset: clang, the fuzz targets only.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

if [ "${OSTROVE_LONG:-0}" = 1 ]; then
    budget=(-runs=10000000)
    # Keeping an allocation stack for every block would grow without end over ten million runs.
    extra_asan=":malloc_context_size=0"
else
    budget=(-max_total_time="${FUZZ_SECONDS:-15}")
fi
# A small quarantine keeps ten million runs within libFuzzer's memory limit.
export ASAN_OPTIONS="detect_leaks=0:quarantine_size_mb=16${extra_asan:-}"
# The store targets write real files; memory-backed ones make each sync cheap.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
for target in profilefile hex keypath storefile pop3reply messagefacts regfile; do
    mkdir -p "build-fuzz/corpus/$target"
    cp -n tests/fuzz/corpus/$target/* "build-fuzz/corpus/$target/" 2>/dev/null || true
    echo "== fuzz_$target"
    log="build-fuzz/fuzz_$target.log"
    # Key paths longer than a kilobyte only make the runs slow; files and texts may be large.
    max_len=65536
    [ "$target" = keypath ] && max_len=1024
    if ! (cd build-fuzz && "tests/fuzz/fuzz_$target" "${budget[@]}" -max_len=$max_len \
            -rss_limit_mb=4096 -print_final_stats=1 "corpus/$target") >"$log" 2>&1; then
        grep -E "ERROR|SUMMARY|Test unit written" "$log" >&2 || tail -20 "$log" >&2
        exit 1
    fi
    grep -E "^stat::number_of_executed_units" "$log"
done
echo "Fuzzing found nothing."

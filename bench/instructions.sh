#!/usr/bin/env bash
# Instruction counts under callgrind, where wall time is too noisy to tell a few per cent:
# each benchmark's counted pieces ("ours|what" next to "floor|what"), and whole start-ups of
# OstroveConf and of the bare Qt program.
# Usage: bench/instructions.sh BUILD_DIR [cipher|store|startup ...]
# (bench_pages measures time and memory of whole processes; it has no counted pieces.)
set -euo pipefail
build=$1
shift
parts=("${@:-cipher store startup}")
parts=(${parts[*]})
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=offscreen

# Prints "label instructions" for every dump a run left.
dumps() {
    for file in $(ls -v "$1".* 2>/dev/null); do
        [ -e "$file" ] || continue
        awk '/^desc: Trigger: Client Request: / { sub(/^desc: Trigger: Client Request: /, ""); label = $0 }
             /^summary: / { total = $2 }
             END { if (label != "") printf "%s\t%s\n", label, total }' "$file"
    done
}

pair() {
    awk -F'\t' '{ split($1, p, "|"); count[p[1], p[2]] = $2; if (!(p[2] in seen)) { seen[p[2]] = 1; order[++n] = p[2] } }
        END { for (i = 1; i <= n; ++i) { w = order[i]; o = count["ours", w]; f = count["floor", w];
              if (f > 0) printf "%-52s ours %12.0f   floor %12.0f   ratio %5.2f\n", w, o, f, o / f } }'
}

for part in "${parts[@]}"; do
    case $part in
    cipher | store)
        echo "== bench_$part (instructions)"
        BENCH_INSTRUCTIONS=1 valgrind --tool=callgrind --callgrind-out-file="$out/$part" \
            "$build/bench/bench_$part" >/dev/null 2>"$out/$part.log"
        dumps "$out/$part" | pair
        ;;
    startup)
        echo "== start-up to the first shown window (instructions, whole process)"
        export OSTROVE_REGISTRY="$out/registry.db"
        # A start as on every day but the first: the store is there already.
        "$build/bench/startup_ostrove" >/dev/null 2>&1 || true
        for program in startup_ostrove startup_bare; do
            valgrind --tool=callgrind --callgrind-out-file="$out/$program" \
                "$build/bench/$program" >/dev/null 2>"$out/$program.log"
            printf '%s\t%s\n' "$program" "$(awk '/^summary: / { print $2 }' "$out/$program")"
        done | awk -F'\t' '{ c[$1] = $2 } END { printf "%-52s ours %12.0f   floor %12.0f   ratio %5.2f\n", "OstroveConf / bare Qt program", c["startup_ostrove"], c["startup_bare"], c["startup_ostrove"] / c["startup_bare"] }'
        ;;
    *) echo "unknown part: $part" >&2; exit 2 ;;
    esac
done

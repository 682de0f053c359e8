#!/usr/bin/env bash
# Runs clang-tidy, with the repository's .clang-tidy, over our sources in a build's compilation
# database, several files at a time; prints each file's findings whole and fails if any file has
# one. The tidy target runs it after generating the moc files the sources include.
#   scripts/tidy.sh BUILD_DIR [FOLDER...]   # folders of the repository; src tests bench by default
# CLANG_TIDY names the program (clang-tidy), TIDY_JOBS how many run at once (all processors).
# TIDY_SINCE=REV checks only the sources changed since that commit and those that include a
# changed header by name (CI's quick run); every file when REV is not in this history.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [FOLDER...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(src tests bench)
export CLANG_TIDY=${CLANG_TIDY:-clang-tidy}
jobs=${TIDY_JOBS:-$(nproc)}

database=$build/compile_commands.json
if [ ! -f "$database" ]; then
    echo "tidy: no $database; configure that build first" >&2
    exit 1
fi
if ! command -v "$CLANG_TIDY" >/dev/null; then
    echo "tidy: $CLANG_TIDY not found; install clang-tidy (scripts/dependencies.sh)" >&2
    exit 1
fi

# CMake writes one "file" line per entry, with an absolute path; generated sources live in the
# build folder and are left out.
files=()
while IFS= read -r file; do
    for folder in "${folders[@]}"; do
        if [[ $file == "$root/$folder/"* ]]; then
            files+=("$file")
            break
        fi
    done
done < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
    echo "tidy: none of ${folders[*]} under $root is in $database" >&2
    exit 1
fi

if [ -n "${TIDY_SINCE:-}" ]; then
    if git -C "$root" cat-file -e "$TIDY_SINCE^{commit}" 2>/dev/null; then
        changed=$( (git -C "$root" diff --name-only "$TIDY_SINCE" --; \
                    git -C "$root" ls-files --others --exclude-standard) | sort -u)
        headers=$(grep -E '\.h$' <<<"$changed" | xargs -r -n 1 basename | sed 's/\./\\./g' \
                  | paste -sd '|' || true)
        picked=()
        for file in "${files[@]}"; do
            if grep -qxF "${file#"$root/"}" <<<"$changed" \
                || { [ -n "$headers" ] && grep -qE "#include \"(.*/)?($headers)\"" "$file"; }; then
                picked+=("$file")
            fi
        done
        echo "clang-tidy: ${#picked[@]} of ${#files[@]} files changed since ${TIDY_SINCE:0:12}"
        [ ${#picked[@]} -gt 0 ] || { echo "clang-tidy: nothing to check."; exit 0; }
        files=("${picked[@]}")
    else
        echo "clang-tidy: $TIDY_SINCE is not in this history; checking every file"
    fi
fi

TIDY_LOCK=$(mktemp)
trap 'rm -f "$TIDY_LOCK"' EXIT
export TIDY_BUILD=$build TIDY_LOCK
tidy_one() {
    local output status=0
    output=$("$CLANG_TIDY" -p "$TIDY_BUILD" --quiet "$1" 2>&1) || status=$?
    # The count of warnings in other people's headers, which the filter hid, is noise.
    output=$(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' <<<"$output" || true)
    if [ $status -ne 0 ] || [ -n "$output" ]; then
        flock "$TIDY_LOCK" cat <<<"$output"
    fi
    # xargs stops at once on 255; any other failure lets the other files finish first.
    [ $status -eq 0 ] || exit 1
}
export -f tidy_one

echo "clang-tidy: ${#files[@]} files of ${folders[*]}, $jobs at a time"
start=$SECONDS
status=0
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$jobs" bash -c 'tidy_one "$1"' _ || status=$?
echo "clang-tidy: $((SECONDS - start)) s"
if [ $status -ne 0 ]; then
    echo "clang-tidy found problems (above)." >&2
    exit 1
fi
echo "clang-tidy found nothing."

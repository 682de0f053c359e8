#!/usr/bin/env bash
# Builds everything with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer
# (the test preset), runs clang-tidy over the sources and every test; any sanitizer report fails
# its test. The formatting is checked first. OSTROVE_LONG=1 runs the long versions: clang-tidy
# over every file, 1,000 kills, 30 s of concurrent reading, ten million runs of each fuzz target.
# Then the Windows leg: the mingw-w64 cross build, its tests under Wine and the Linux-Windows
# settings round trip. Each stage's time is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
stage_start=$SECONDS
stage_done() {
    stages+=("$(printf '%-28s %5d s' "$1" $((SECONDS - stage_start)))")
    stage_start=$SECONDS
}
print_stages() {
    echo "Time by stage:"
    printf '  %s\n' "${stages[@]}"
}
trap print_stages EXIT

scripts/dependencies.sh
stage_done "packages"

cmake --preset test >/dev/null
# Cheap checks first: a formatting slip should not wait for the long build.
cmake --build --preset test --target format-check
echo "Formatting is clean."
stage_done "format check"
cmake --build --preset test
stage_done "build (sanitizers)"

# src, tests and bench with the test build's compile commands (.clang-tidy decides the checks).
# The quick run checks what changed since the last commit every file was checked at
# (.ci/tidy-base); the long run, and scripts/tidy.sh by hand, check every file.
if [ "${OSTROVE_LONG:-0}" = 1 ]; then
    export OSTROVE_KILLS=1000 OSTROVE_VIEW_SECONDS=30
elif [ -f .ci/tidy-base ]; then
    TIDY_SINCE=$(tr -d '[:space:]' <.ci/tidy-base)
    export TIDY_SINCE
fi
cmake --build --preset test --target tidy
stage_done "clang-tidy"

# The Debian package of a Release build, as a person installs it: tst_debpackage installs it
# with apt-get on a fresh root. lintian fails the run on an error and prints its warnings.
cmake --preset release >/dev/null
cmake --build --preset release
rm -f build/ostrove_*.deb
(cd build && cpack -G DEB)
echo "lintian on $(ls build/ostrove_*.deb):"
lintian --fail-on error build/ostrove_*.deb
stage_done "package (release)"

# Each test carries its own time-out (tests/CMakeLists.txt) and the sanitizer settings
# (cmake/ProjectOptions.cmake).
ctest --preset test
stage_done "tests"

# Windows: Qt for mingw-w64 from the cache (built from Debian's source when missing, 20-45 min),
# the folder and its zip, the windows preset's tests run by Wine, and settings moved between this
# build's Linux store and the Windows registry both ways, with a screenshot of OstroveConf.exe.
scripts/windows-folder.sh
cmake --build --preset windows -j2
ctest --preset windows
scripts/windows-roundtrip.sh build/ostrove-reg build-windows/OstroveConf-windows \
    build-windows/roundtrip.png
stage_done "windows (Wine)"

echo "Fuzzing the readers of outside input"
scripts/fuzz.sh
# The fuzz targets are only in the fuzz build.
scripts/tidy.sh build-fuzz tests/fuzz
stage_done "fuzzing"

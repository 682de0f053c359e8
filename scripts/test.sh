#!/usr/bin/env bash
# Builds everything with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test; any sanitizer report fails its test. The formatting is checked first.
# OSTROVE_LONG=1 runs the long versions: 1,000 kills, 30 s of concurrent reading, and ten
# million runs of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/dependencies.sh

# Cheap checks first: a formatting slip should not wait for the long build.
echo "Checking the formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "Formatting is clean."

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTROVE_WERROR=ON \
    -DOSTROVE_SANITIZE=ON -DOSTROVE_BUILD_TESTS=ON >/dev/null
cmake --build build-test

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ "${OSTROVE_LONG:-0}" = 1 ]; then
    export OSTROVE_KILLS=1000 OSTROVE_VIEW_SECONDS=30
fi
# Each test carries its own time-out (tests/CMakeLists.txt).
(cd build-test && ctest --output-on-failure -j2)

echo "Fuzzing the readers of outside input"
scripts/fuzz.sh

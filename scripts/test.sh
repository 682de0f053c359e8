#!/usr/bin/env bash
# Builds everything with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer
# (the test preset) and runs every test; any sanitizer report fails its test. The formatting is
# checked first. OSTROVE_LONG=1 runs the long versions: 1,000 kills, 30 s of concurrent reading,
# and ten million runs of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/dependencies.sh

# Cheap checks first: a formatting slip should not wait for the long build.
echo "Checking the formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "Formatting is clean."

cmake --preset test >/dev/null
cmake --build --preset test

if [ "${OSTROVE_LONG:-0}" = 1 ]; then
    export OSTROVE_KILLS=1000 OSTROVE_VIEW_SECONDS=30
fi
# Each test carries its own time-out (tests/CMakeLists.txt) and the sanitizer settings
# (cmake/ProjectOptions.cmake).
ctest --preset test

echo "Fuzzing the readers of outside input"
scripts/fuzz.sh

#!/usr/bin/env bash
# Builds everything with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer
# (the test preset), runs clang-tidy over the sources and every test; any sanitizer report fails
# its test. The formatting is checked first. OSTROVE_LONG=1 runs the long versions: 1,000 kills,
# 30 s of concurrent reading, and ten million runs of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/dependencies.sh

cmake --preset test >/dev/null
# Cheap checks first: a formatting slip should not wait for the long build.
cmake --build --preset test --target format-check
echo "Formatting is clean."
cmake --build --preset test

# src, tests and bench with the test build's compile commands (.clang-tidy decides the checks).
cmake --build --preset test --target tidy

if [ "${OSTROVE_LONG:-0}" = 1 ]; then
    export OSTROVE_KILLS=1000 OSTROVE_VIEW_SECONDS=30
fi
# Each test carries its own time-out (tests/CMakeLists.txt) and the sanitizer settings
# (cmake/ProjectOptions.cmake).
ctest --preset test

echo "Fuzzing the readers of outside input"
scripts/fuzz.sh
# The fuzz targets are only in the fuzz build.
scripts/tidy.sh build-fuzz tests/fuzz

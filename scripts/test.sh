#!/usr/bin/env bash
# Builds everything in Release (the build a packager makes) and runs every test; then builds the
# core libraries (platform, storage, lang, framework) with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs their tests. Every build here treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORAWIN_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORAWIN_SANITIZE=ON \
      -DKORAWIN_CORE_ONLY=ON -DKORAWIN_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900

# A short fuzzing run of every target (about a minute in all); scripts/fuzz.sh runs longer.
scripts/fuzz.sh 15

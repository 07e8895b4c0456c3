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

# The window runtime's thread tests under ThreadSanitizer (Debian's Qt is not instrumented).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORAWIN_TSAN=ON \
      -DKORAWIN_CORE_ONLY=ON -DKORAWIN_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target ui_runtime_test
TSAN_OPTIONS=ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1 \
  build-tsan/tests/ui/ui_runtime_test

# A short fuzzing run of every target (about a minute in all); scripts/fuzz.sh runs longer.
scripts/fuzz.sh 15

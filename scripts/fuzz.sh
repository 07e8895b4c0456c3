#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 20) over a copy of
# its corpus in the repository, so that the run leaves the repository as it was. The targets
# run one after another.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#   targets: lang_fuzz dat_fuzz text_fuzz journal_fuzz json_list_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(lang_fuzz dat_fuzz text_fuzz journal_fuzz json_list_fuzz)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORAWIN_FUZZ=ON -DKORAWIN_CORE_ONLY=ON -DKORAWIN_BENCH=OFF -DKORAWIN_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  corpus=fuzz/corpus/${t%_fuzz}
  mkdir -p "$work/$t"
  echo "fuzz: $t for ${seconds}s"
  # New inputs go to the scratch folder, and so does an input that fails (a target may change
  # its current folder); the repository's corpus is only read.
  status=0
  (cd "$work" && "$OLDPWD/build-fuzz/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/" "$work/$t" "$OLDPWD/$corpus") \
      >"$work/$t.log" 2>&1 || status=$?
  grep -E "^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|SUMMARY)" "$work/$t.log" || true
  if ((status != 0)); then
    tail -40 "$work/$t.log"
    echo "fuzz: $t failed (exit $status); the input is in $work"
    trap - EXIT
    exit 1
  fi
done

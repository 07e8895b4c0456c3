#!/usr/bin/env bash
# The program's main job on a fresh machine: builds the tools and runs them on a database
# they create (in /tmp/korawin1-demo unless a folder is given).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target korawin1-db
dir=${1:-/tmp/korawin1-demo}
mkdir -p "$dir"
db=build/tools/korawin1-db
"$db" sample "$dir/sample.dat"
"$db" info "$dir/sample.dat"

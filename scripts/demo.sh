#!/usr/bin/env bash
# The program's main job on a fresh machine, until its window exists: builds korawin1-db,
# builds the demo database (about a hundred Russian verb lexemes: import, then repair) in
# /tmp/korawin1-demo unless a folder is given, checks every file and prints a summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target korawin1-db
dir=${1:-/tmp/korawin1-demo}
db=build/tools/korawin1-db
"$db" demo "$dir" </dev/null
if "$db" --help | grep -q "korawin1-db check "; then
  "$db" check "$dir"
else
  echo "(korawin1-db check is not built yet: the database was not verified)"
fi
echo
echo "Demo database in $dir:"
for f in slovo dct tema taxonom ak2 ak3 p_4 p_7 p8b p8e; do
  printf '  %-8s %6s records\n' "$f" "$("$db" info "$dir/$f.dat" | awk '$1 == "records" {print $2}')"
done
echo "Word list (first ten words with their lexeme counts):"
"$db" dump "$dir" DCT --json | head -n 10 | sed 's/^/  /'

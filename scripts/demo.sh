#!/usr/bin/env bash
# The program's main job on the built-in demo database. Builds korawin1 and korawin1-db, then:
# - on a desktop (DISPLAY set): starts korawin1 on the demo database, which it makes from the
#   demo cards compiled into it the first time ($XDG_DATA_HOME/korawin1/demo);
# - without a display (a server): runs korawin1 on a virtual X server, walks through it as a
#   user would (the word list, the lexeme list, one lexeme's card and the lexemes holding a
#   typed fragment, opened through the program's own menus and buttons by way of the
#   accessibility layer), saves a screenshot after each step in SHOTS (default
#   ./korawin1-screenshots) and says where they are.
#   scripts/demo.sh [SHOTS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target korawin1 korawin1-db

if [[ -n "${DISPLAY:-}" && -z "${KORAWIN_TOUR:-}" ]]; then
  exec build/app/korawin1
fi

shots=$(realpath -m "${1:-korawin1-screenshots}")
mkdir -p "$shots"
export KORAWIN_SHOTS=$shots
xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- scripts/tour.sh
echo
echo "Screenshots of the program on the demo database are in $shots:"
ls -1 "$shots" | sed 's/^/  /'

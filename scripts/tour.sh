#!/usr/bin/env bash
# Runs inside a virtual X server and a D-Bus session (scripts/demo.sh starts it so): starts the
# accessibility bus and korawin1 on the demo database, and lets scripts/tour.py walk through it.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
/usr/libexec/at-spi-bus-launcher --launch-immediately &
bus=$!
sleep 1
build/app/korawin1 &
program=$!
status=0
/usr/bin/python3 scripts/tour.py "$KORAWIN_SHOTS" || status=$?
# The tour ends with Exit; a program that has not ended by then is stopped.
for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
kill "$program" "$bus" 2>/dev/null || true
exit "$status"

#!/usr/bin/env bash
# Takes the pictures of the main window, one per tab and one with a menu open
# during a transfer, into docs/screenshots/.
# Runs the window under Xvfb with a notification area (trayer), as on a desktop.
# Needs the packages of scripts/setup.sh; builds the test program first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
out=$root/docs/screenshots

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target app_tests

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  if command -v trayer >/dev/null; then
    trayer --edge bottom --align right --widthtype request --SetDockType true >/dev/null 2>&1 &
    tray=$!
    sleep 1
  fi
  QT_QPA_PLATFORM=xcb TASKHAUL_SCREENSHOT_DIR="$2" "$1/tests/app/app_tests" \
    --gtest_also_run_disabled_tests --gtest_filter="Screenshots.*"
  status=$?
  [ -n "${tray:-}" ] && kill "$tray" 2>/dev/null || true
  exit $status
' screenshots "$build" "$out"
echo "Screenshots in $out"

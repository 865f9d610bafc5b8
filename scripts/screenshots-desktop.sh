#!/usr/bin/env bash
# Takes the pictures of the download progress, the notification-area icon's
# tooltip and a failure notification into docs/screenshots/.
# Runs under Xvfb with a notification area (trayer) and, on a session bus of
# its own, a notification daemon (Debian's dunst, installed here: only these
# pictures need it). Builds the test program first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
out=$root/docs/screenshots
bash "$root/scripts/install-packages.sh" dunst

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target app_tests

xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- bash -c '
  set -e
  trayer --edge bottom --align right --widthtype request --SetDockType true >/dev/null 2>&1 &
  tray=$!
  dunst >/dev/null 2>&1 &
  daemon=$!
  sleep 1
  status=0
  QT_QPA_PLATFORM=xcb TASKHAUL_SCREENSHOT_DIR="$2" "$1/tests/app/app_tests" \
    --gtest_also_run_disabled_tests --gtest_filter="DesktopScreenshots.*" || status=$?
  kill "$tray" "$daemon" 2>/dev/null || true
  exit $status
' screenshots "$build" "$out"
echo "Screenshots in $out"

#!/usr/bin/env bash
# Checks the run notices against a real notification service: dunst (Debian's
# package, which only this check and the desktop pictures need, installed here)
# under Xvfb on a session bus of its own, and the test
# RealNotificationService.* of app_tests, which ctest does not run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
bash "$root/scripts/install-packages.sh" dunst

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target app_tests

xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- bash -c '
  dunst >/dev/null 2>&1 &
  daemon=$!
  sleep 1
  status=0
  QT_QPA_PLATFORM=offscreen "$1/tests/app/app_tests" \
    --gtest_also_run_disabled_tests --gtest_filter="RealNotificationService.*" || status=$?
  kill "$daemon" 2>/dev/null || true
  exit $status
' notifications "$build"

#!/usr/bin/env bash
# Remakes docs/screenshots/about.png and docs/screenshots/wildcard-guide.png:
# builds the screenshot program and runs it on a virtual X display.
# Needs xvfb-run (package xvfb). Build folder: $TASKHAUL_BUILD_DIR or build/.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
out=$root/docs/screenshots

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target ui_screenshots
mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tests/ui/ui_screenshots" "$out"
echo "Saved $out/about.png and $out/wildcard-guide.png"

#!/usr/bin/env bash
# Sets up and builds Taskhaul, then runs every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
bash "$root/scripts/check-self-contained.sh"
bash "$root/scripts/setup.sh"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900

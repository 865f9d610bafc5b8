#!/usr/bin/env bash
# Sets up and builds Taskhaul, then starts it. Arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
exec "${TASKHAUL_BUILD_DIR:-$root/build}/src/app/taskhaul" "$@"

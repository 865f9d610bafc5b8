#!/usr/bin/env bash
# Builds Taskhaul with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs every test there. Not part of CI (it doubles the build
# time); run it before changing the FTP client, the parsers or the engine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TASKHAUL_BUILD_DIR=${TASKHAUL_BUILD_DIR:-$root/build-asan}
export TASKHAUL_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Debug -DTASKHAUL_SANITIZE=address,undefined -DTASKHAUL_BENCH=OFF"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
bash "$root/scripts/test.sh"

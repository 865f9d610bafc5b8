#!/usr/bin/env bash
# Builds Taskhaul with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs the tests there: every test, or only the test programs
# named (e.g. `scripts/sanitize.sh ftp transfer`, as CI does).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export TASKHAUL_BUILD_DIR=${TASKHAUL_BUILD_DIR:-$root/build-asan}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
args="-DCMAKE_BUILD_TYPE=Debug -DTASKHAUL_SANITIZE=address,undefined -DTASKHAUL_BENCH=OFF"

if (($# == 0)); then
  export TASKHAUL_CMAKE_ARGS=$args
  exec bash "$root/scripts/test.sh"
fi

# Only the named test programs (and what they need).
targets=()
for name in "$@"; do targets+=("${name}_tests"); done
pattern="^($(IFS='|'; echo "$*"))\\."
# The programs some of these tests run.
cmake -S "$root" -B "$TASKHAUL_BUILD_DIR" -G Ninja $args ${TASKHAUL_CMAKE_ARGS:-} >/dev/null
cmake --build "$TASKHAUL_BUILD_DIR" -j "$(nproc)" --target "${targets[@]}" taskhaul
cd "$TASKHAUL_BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" --timeout 900 -R "$pattern"

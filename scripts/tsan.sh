#!/usr/bin/env bash
# Builds Taskhaul with ThreadSanitizer into build-tsan/ and runs the tests that
# put more than one thread to work: the SFTP client and site (a worker thread
# per connection) and the runs over several connections. Arguments name other
# test programs (as `scripts/sanitize.sh` does), e.g. `scripts/tsan.sh ftp`;
# TASKHAUL_TSAN_TESTS, when set, is the ctest -R pattern instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build-tsan}
# Qt's own libraries are not built with the sanitizer: what they do inside
# themselves is left out (scripts/tsan.supp), every report about our code stops
# the test.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp}

programs=("$@")
((${#programs[@]})) || programs=(sftp site transfer transfer_sftp)
pattern=${TASKHAUL_TSAN_TESTS:-}
if [ -z "$pattern" ]; then
  if (($# == 0)); then
    # The SFTP programs whole; of the engine's tests those over several connections.
    pattern='^(sftp|site|transfer_sftp)\.|^transfer\.Connections'
  else
    pattern="^($(IFS='|'; echo "${programs[*]}"))\\."
  fi
fi
targets=()
for name in "${programs[@]}"; do targets+=("${name}_tests"); done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKHAUL_SANITIZE=thread \
  -DTASKHAUL_BENCH=OFF ${TASKHAUL_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" taskhaul
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900 -R "$pattern"

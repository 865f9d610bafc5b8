#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each of them
# (or the ones named) for a number of seconds, then prints the executions and
# findings of every target. Not part of CI; see fuzz/README.md.
#
#   scripts/fuzz.sh [-t SECONDS] [--stop-at-first] [--no-build] [TARGET...]
#
# Targets: ftp_reply listing template wildcard data_replies update_page.
# Findings (crash-*, timeout-*, oom-*, leak-* files) go to
# build-fuzz/fuzz-findings/<target>/, the inputs found along the way to
# build-fuzz/fuzz-corpus/<target>/ (the seeds in fuzz/corpus/ stay untouched),
# each run's output to build-fuzz/fuzz-logs/<target>.log.
#
# By default a target keeps going after a finding (libFuzzer's fork mode), so that
# one known fault does not end a long run; --stop-at-first stops at the first.
# Environment: TASKHAUL_FUZZ_BUILD_DIR (build folder), TASKHAUL_FUZZ_NICE (niceness
# of the runs, default 10), TASKHAUL_FUZZ_ARGS (more libFuzzer options).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_FUZZ_BUILD_DIR:-$root/build-fuzz}
all_targets=(ftp_reply listing template wildcard data_replies update_page)

# Longest input per target: a few replies, a listing of some hundred lines, a file
# name, a name and a pattern, one reply text, a small page.
declare -A max_len=(
  [ftp_reply]=8192 [listing]=16384 [template]=256 [wildcard]=512 [data_replies]=512 [update_page]=16384)

usage() {
  sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit "${1:-2}"
}

seconds=600
stop_at_first=0
build_first=1
targets=()
while (($#)); do
  case $1 in
    -t | --time) [ $# -ge 2 ] || usage; seconds=$2; shift 2 ;;
    --stop-at-first) stop_at_first=1; shift ;;
    --no-build) build_first=0; shift ;;
    -h | --help) usage 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; usage ;;
    *)
      [[ -v max_len[$1] ]] || { echo "fuzz.sh: unknown target $1 (one of: ${all_targets[*]})" >&2; exit 2; }
      targets+=("$1"); shift ;;
  esac
done
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: seconds must be a positive number" >&2; exit 2; }
((${#targets[@]})) || targets=("${all_targets[@]}")

if ((build_first)); then
  # Fuzzing is optional, so the normal setup does not install clang and libFuzzer.
  packages=(clang libclang-rt-14-dev llvm-14 cmake ninja-build pkg-config qt6-base-dev libgl-dev nettle-dev
    libssl-dev qtkeychain-qt6-dev)
  bash "$root/scripts/install-packages.sh" "${packages[@]}"
  launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$root
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTASKHAUL_FUZZ=ON -DTASKHAUL_TESTS=OFF \
    -DTASKHAUL_BENCH=OFF -DTASKHAUL_SANITIZE=address,undefined "${launcher[@]}"
  cmake --build "$build" --target "${targets[@]/#/fuzz_}" -j "$(nproc)"
fi

# Symbolised stacks, and the process stops at the first sanitizer report.
symbolizer=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1${symbolizer:+:external_symbolizer_path=$symbolizer}}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:symbolize=1${symbolizer:+:external_symbolizer_path=$symbolizer}}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}

count_findings() {
  find "$1" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l
}

summary=()
status=0
for target in "${targets[@]}"; do
  binary=$build/fuzz/fuzz_$target
  [ -x "$binary" ] || { echo "fuzz.sh: $binary is missing (run without --no-build)" >&2; exit 1; }
  corpus=$build/fuzz-corpus/$target
  findings=$build/fuzz-findings/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  before=$(count_findings "$findings")

  options=(-max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=25 -rss_limit_mb=2560
           -print_final_stats=1 -artifact_prefix="$findings/" -dict="$root/fuzz/dict/$target.dict")
  ((stop_at_first)) || options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  # shellcheck disable=SC2206
  options+=(${TASKHAUL_FUZZ_ARGS:-})

  echo "== $target: ${seconds}s, max_len ${max_len[$target]}, log $log"
  set +e
  # Seeds: the checked-in ones and the kept reproducers of earlier findings.
  seeds=("$root/fuzz/corpus/$target")
  [ ! -d "$root/fuzz/findings/$target" ] || seeds+=("$root/fuzz/findings/$target")
  (cd "$build" && nice -n "${TASKHAUL_FUZZ_NICE:-10}" "$binary" "${options[@]}" "$corpus" "${seeds[@]}") \
    >"$log" 2>&1
  rc=$?
  set -e

  # Executions: the final statistics of a plain run, the last status line of a fork run.
  runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | tail -n1 | grep -oE '[0-9]+$' || true)
  [ -n "$runs" ] || runs=$(grep -oE '^#[0-9]+' "$log" | tail -n1 | tr -d '#' || true)
  new=$(($(count_findings "$findings") - before))
  summary+=("$(printf '%-13s %12s executions  %3d new finding file(s)  exit %d' "$target" "${runs:-?}" "$new" "$rc")")
  # One line per distinct fault: the sanitizer's summary, the broken promise or the hang.
  while IFS= read -r line; do
    summary+=("    $line")
  done < <(grep -E 'runtime error:|^SUMMARY: |broken promise:|terminate called|ALARM: working on the last Unit|out-of-memory \(' "$log" \
             | sed -E 's/(runtime error: [^:0-9]*).*/\1/; s/(ALARM: working on the last Unit for) [0-9]+/\1 N/' \
             | sort | uniq -c | sort -rn | head -n 10)
  ((new == 0)) || status=1
done

echo
echo "Fuzzing summary (${seconds}s per target; findings in $build/fuzz-findings/<target>/):"
printf '%s\n' "${summary[@]}"
exit "$status"

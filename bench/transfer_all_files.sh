#!/usr/bin/env bash
# All-files transfer of many small files from pyftpdlib on loopback: the transfer
# engine against `lftp -e mirror` over one connection, several rounds
# (see transfer_all_files.py for how the runs are kept apart).
#
#   bench/transfer_all_files.sh [BUILD_DIR] [FILES] [SIZE_BYTES] [ROUNDS]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
bench=$build/bench/transfer_all_files_bench
[ -x "$bench" ] || { echo "build the target transfer_all_files_bench first ($bench)" >&2; exit 2; }
exec /usr/bin/python3 "$root/bench/transfer_all_files.py" "$bench" "${2:-2000}" "${3:-4096}" "${4:-7}"

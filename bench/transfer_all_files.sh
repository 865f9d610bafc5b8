#!/usr/bin/env bash
# All-files transfer of many small files from pyftpdlib on loopback: the transfer
# engine (connect, enter the folder, fetch every file, with the activity log)
# against `lftp -e mirror` over one connection, alternating, several rounds.
#
#   bench/transfer_all_files.sh [BUILD_DIR] [FILES] [SIZE_BYTES] [ROUNDS]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
files=${2:-2000}
size=${3:-4096}
rounds=${4:-5}
bench=$build/bench/transfer_all_files_bench
[ -x "$bench" ] || { echo "build the target transfer_all_files_bench first ($bench)" >&2; exit 2; }
command -v lftp >/dev/null || { echo "lftp is missing (scripts/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/pub"
/usr/bin/python3 - "$work/root/pub" "$files" "$size" <<'PY'
import os, sys
folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
block = bytes((i * 7 + 3) % 256 for i in range(size))
for i in range(count):
    with open(os.path.join(folder, "file%05d.dat" % i), "wb") as f:
        f.write(block)
PY

port_file=$work/port
/usr/bin/python3 - "$work/root" "$port_file" <<'PY' &
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user("bench", "secret", sys.argv[1], perm="elr")
FTPHandler.authorizer = authorizer
FTPHandler.banner = "bench server ready"
server = FTPServer(("127.0.0.1", 0), FTPHandler)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
import os; os.rename(sys.argv[2] + ".tmp", sys.argv[2])
server.serve_forever()
PY
server_pid=$!
for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
port=$(cat "$port_file")

now() { date +%s.%N; }
rate() { /usr/bin/python3 -c "import sys; print('%.1f' % (int(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }

ours_total=0; lftp_total=0
echo "files=$files size=$size rounds=$rounds server=pyftpdlib 127.0.0.1:$port"
for round in $(seq "$rounds"); do
  rm -rf "$work/ours" "$work/lftp" "$work/log.txt"; mkdir -p "$work/ours" "$work/lftp"
  start=$(now)
  "$bench" 127.0.0.1 "$port" bench secret /pub "$work/ours" "$work/log.txt" passive >/dev/null
  ours=$(/usr/bin/python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$start" "$(now)")
  got=$(find "$work/ours" -type f | wc -l)
  [ "$got" -eq "$files" ] || { echo "engine fetched $got of $files files" >&2; exit 1; }

  start=$(now)
  lftp -u bench,secret -p "$port" \
    -e "set ftp:passive-mode on; set mirror:parallel-transfer-count 1; set net:max-retries 1; mirror /pub $work/lftp; quit" \
    127.0.0.1 >/dev/null
  theirs=$(/usr/bin/python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$start" "$(now)")
  got=$(find "$work/lftp" -type f | wc -l)
  [ "$got" -eq "$files" ] || { echo "lftp fetched $got of $files files" >&2; exit 1; }
  cmp -s "$work/ours/file00000.dat" "$work/lftp/file00000.dat" || { echo "contents differ" >&2; exit 1; }

  echo "round $round: engine $(rate "$files" "$ours") files/s ($ours s), lftp $(rate "$files" "$theirs") files/s ($theirs s)"
  ours_total=$(/usr/bin/python3 -c "import sys; print(float(sys.argv[1]) + float(sys.argv[2]))" "$ours_total" "$ours")
  lftp_total=$(/usr/bin/python3 -c "import sys; print(float(sys.argv[1]) + float(sys.argv[2]))" "$lftp_total" "$theirs")
done
total=$((files * rounds))
echo "overall: engine $(rate "$total" "$ours_total") files/s, lftp $(rate "$total" "$lftp_total") files/s," \
  "ratio engine/lftp $(/usr/bin/python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) / float(sys.argv[1])))" "$ours_total" "$lftp_total")"

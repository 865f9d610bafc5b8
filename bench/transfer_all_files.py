#!/usr/bin/python3
"""All-files transfer of many small files from pyftpdlib on loopback: the
transfer engine (connect, enter the folder, fetch every file, with the activity
log) against `lftp -e mirror` over one connection, several rounds.

    transfer_all_files.py BENCH_BINARY [FILES] [SIZE_BYTES] [ROUNDS]

Every measurement gets a server of its own on a loopback address of its own
(127.0.0.2, 127.0.0.3, ...). A run of 2,000 downloads leaves about 2,000 of the
server's passive ports in TIME_WAIT for a minute; on one shared address the
next runs would spend ever longer finding free ports, and later rounds would
measure that instead of the clients. After one untimed warm-up run each, the
two clients take turns in going first, and the local folders are on a memory
file system when there is one, so that the disk does not add its own noise.
Reported are the rate of every run, the median rate of each client and the
median of the per-round ratios.
"""

import os
import shutil
import statistics
import sys
import tempfile

from bench_support import FtpServer, measure


def count_files(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    bench = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 4096
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 7
    if shutil.which("lftp") is None:
        raise SystemExit("lftp is missing (scripts/setup.sh installs it)")

    work = tempfile.mkdtemp(prefix="taskhaul-bench-")
    scratch_parent = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else work
    scratch = tempfile.mkdtemp(prefix="taskhaul-bench-", dir=scratch_parent)
    servers = []
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pub"))
        block = bytes((i * 7 + 3) % 256 for i in range(size))
        for i in range(files):
            with open(os.path.join(root, "pub", "file%05d.dat" % i), "wb") as f:
                f.write(block)

        next_address = [2]

        def fresh_server():
            server = FtpServer(root, "bench", "secret", "127.0.0.%d" % next_address[0])
            next_address[0] += 1
            servers.append(server)
            return server

        def run_engine():
            server = fresh_server()
            target = os.path.join(scratch, "engine")
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            log = os.path.join(scratch, "log.txt")
            if os.path.exists(log):
                os.remove(log)
            seconds = measure([bench, server.address, str(server.port), "bench", "secret", "/pub", target, log, "passive"])[0]
            server.stop()
            return seconds, target

        def run_lftp():
            server = fresh_server()
            target = os.path.join(scratch, "lftp")
            shutil.rmtree(target, ignore_errors=True)
            script = ("set ftp:passive-mode on; set mirror:parallel-transfer-count 1; set net:max-retries 1; "
                      "mirror /pub %s; quit" % target)
            seconds = measure(["lftp", "-u", "bench,secret", "-p", str(server.port), "-e", script, server.address])[0]
            server.stop()
            return seconds, target

        print("files=%d size=%d rounds=%d server=pyftpdlib on loopback, local folders in %s"
              % (files, size, rounds, scratch_parent))
        # One untimed run of each first: the server's files and both programs
        # are then in the page cache for every timed run.
        run_engine()
        run_lftp()
        engine_rates, lftp_rates, ratios = [], [], []
        for round_number in range(1, rounds + 1):
            if round_number % 2:
                engine_seconds, engine_target = run_engine()
                lftp_seconds, lftp_target = run_lftp()
            else:
                lftp_seconds, lftp_target = run_lftp()
                engine_seconds, engine_target = run_engine()
            for name, target in (("engine", engine_target), ("lftp", lftp_target)):
                got = count_files(target)
                if got != files:
                    raise SystemExit("%s fetched %d of %d files" % (name, got, files))
            with open(os.path.join(engine_target, "file00000.dat"), "rb") as f:
                if f.read() != block:
                    raise SystemExit("the engine's file differs from the server's")
            engine_rate, lftp_rate = files / engine_seconds, files / lftp_seconds
            engine_rates.append(engine_rate)
            lftp_rates.append(lftp_rate)
            ratios.append(engine_rate / lftp_rate)
            print("round %d: engine %.0f files/s (%.3f s), lftp %.0f files/s (%.3f s), ratio %.2f"
                  % (round_number, engine_rate, engine_seconds, lftp_rate, lftp_seconds, ratios[-1]))
        print("median: engine %.0f files/s, lftp %.0f files/s, ratio of medians %.2f, median ratio %.2f"
              % (statistics.median(engine_rates), statistics.median(lftp_rates),
                 statistics.median(engine_rates) / statistics.median(lftp_rates), statistics.median(ratios)))
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

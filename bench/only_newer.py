#!/usr/bin/python3
"""A job whose 2,000 files have not changed since its last run: the program's
`--run-once` with "only new or changed files" on, once against a server
without machine listings (LIST, then SIZE and MDTM where the listing's date
cannot settle a file) and once against one that offers MLSD, and `lftp -e
"mirror --only-newer"`, all on pyftpdlib on loopback, its replies coming
DELAY_MS late (a distant server; 25 ms by default). The files are over a year
old, so that a Unix listing shows their day only. Each client first fetches
the folder once (untimed); then its runs over the unchanged folder are timed,
and the commands it sent per file counted from the server's log.

    only_newer.py TASKHAUL_BINARY [FILES] [ROUNDS] [DELAY_MS]
"""

import os
import shutil
import statistics
import sys
import tempfile
import time

from bench_support import FtpServer, measure, write_job

PASSWORD = "0"  # stored scrambled as "_" by write_job


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    program = os.path.abspath(sys.argv[1])
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    delay = (int(sys.argv[4]) if len(sys.argv) > 4 else 25) / 1000.0
    if shutil.which("lftp") is None:
        raise SystemExit("lftp is missing (scripts/setup.sh installs it)")
    work = tempfile.mkdtemp(prefix="taskhaul-bench-")
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pub"))
        old = time.time() - 400 * 86400
        for i in range(files):
            path = os.path.join(root, "pub", "file%05d.dat" % i)
            with open(path, "wb") as f:
                f.write(b"x" * (i % 4096))
            os.utime(path, (old + i, old + i))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_STATE_HOME=os.path.join(work, "state"), XDG_RUNTIME_DIR=os.path.join(work, "state"),
                   LC_ALL="C")
        os.makedirs(os.path.join(work, "state"))
        folders = {name: os.path.join(work, name) for name in ("LIST", "MLSD", "lftp")}
        for folder in folders.values():
            os.makedirs(folder)

        def serve(name, machine_listings=True):
            return FtpServer(root, "bench", PASSWORD, "127.0.0.1", os.path.join(work, name + ".log"),
                             reply_delay=delay, machine_listings=machine_listings)

        def engine_run(name):
            with serve(name, machine_listings=(name == "MLSD")) as server:
                write_job(env["XDG_CONFIG_HOME"], server.port, folders[name], server.address)
                os.environ.update(env)
                wall, cpu, peak, _ = measure([program, "--run-once"])
                return wall, cpu, server.commands()

        def lftp_run(name="lftp"):
            with serve(name) as server:
                script = ("set ftp:passive-mode on; set net:max-retries 1; mirror --only-newer /pub %s; quit"
                          % folders[name])
                wall, cpu, peak, _ = measure(["lftp", "-u", "bench," + PASSWORD, "-p", str(server.port), "-e",
                                              script, server.address])
                return wall, cpu, server.commands()

        runs = [("LIST", engine_run), ("MLSD", engine_run), ("lftp", lftp_run)]
        for name, run in runs:
            run(name)
            if len(os.listdir(folders[name])) != files:
                raise SystemExit("the first %s run did not fetch every file" % name)
        results = {name: [] for name, _ in runs}
        for round_number in range(1, rounds + 1):
            order = runs if round_number % 2 else list(reversed(runs))
            for name, run in order:
                path = os.path.join(work, name + ".log")
                if os.path.exists(path):
                    os.remove(path)
                wall, cpu, commands = run(name)
                results[name].append((wall, cpu, len(commands)))
                print("round %d: %-5s %.3f s wall, %.3f s CPU, %d commands (%.3f per file)"
                      % (round_number, name, wall, cpu, len(commands), len(commands) / files))
        for name, runs in results.items():
            print("median %-5s %.3f s wall, %.3f s CPU, %.3f commands per file"
                  % (name, statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
                     statistics.median(r[2] for r in runs) / files))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

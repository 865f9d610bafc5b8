#!/usr/bin/python3
"""A job whose 2,000 files have not changed since its last run: the program's
`--run-once` with "only new or changed files" on, against `lftp -e "mirror
--only-newer"`, both on pyftpdlib on loopback. Each client first fetches the
folder once (untimed); then its runs over the unchanged folder are timed, and
the commands it sent per file counted from the server's log.

    only_newer.py TASKHAUL_BINARY [FILES] [ROUNDS]
"""

import os
import shutil
import statistics
import sys
import tempfile

from bench_support import FtpServer, measure, write_job

PASSWORD = "0"  # stored scrambled as "_" by write_job


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    program = os.path.abspath(sys.argv[1])
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    if shutil.which("lftp") is None:
        raise SystemExit("lftp is missing (scripts/setup.sh installs it)")
    work = tempfile.mkdtemp(prefix="taskhaul-bench-")
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pub"))
        for i in range(files):
            with open(os.path.join(root, "pub", "file%05d.dat" % i), "wb") as f:
                f.write(b"x" * (i % 4096))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_STATE_HOME=os.path.join(work, "state"), XDG_RUNTIME_DIR=os.path.join(work, "state"),
                   LC_ALL="C")
        os.makedirs(os.path.join(work, "state"))
        engine_folder = os.path.join(work, "engine")
        lftp_folder = os.path.join(work, "lftp")
        os.makedirs(engine_folder)

        def serve(name):
            return FtpServer(root, "bench", PASSWORD, "127.0.0.1", os.path.join(work, name + ".log"))

        def engine_run():
            with serve("engine") as server:
                write_job(env["XDG_CONFIG_HOME"], server.port, engine_folder, server.address)
                os.environ.update(env)
                wall, cpu, peak, _ = measure([program, "--run-once"])
                return wall, cpu, server.commands()

        def lftp_run():
            with serve("lftp") as server:
                script = ("set ftp:passive-mode on; set net:max-retries 1; mirror --only-newer /pub %s; quit"
                          % lftp_folder)
                wall, cpu, peak, _ = measure(["lftp", "-u", "bench," + PASSWORD, "-p", str(server.port), "-e",
                                              script, server.address])
                return wall, cpu, server.commands()

        engine_run()
        lftp_run()
        if len(os.listdir(engine_folder)) != files or len(os.listdir(lftp_folder)) != files:
            raise SystemExit("the first runs did not fetch every file")
        results = {"taskhaul": [], "lftp": []}
        for round_number in range(1, rounds + 1):
            order = [("taskhaul", engine_run), ("lftp", lftp_run)]
            if round_number % 2 == 0:
                order.reverse()
            for name, run in order:
                for log in ("engine.log", "lftp.log"):
                    path = os.path.join(work, log)
                    if os.path.exists(path):
                        os.remove(path)
                wall, cpu, commands = run()
                results[name].append((wall, cpu, len(commands)))
                print("round %d: %-8s %.3f s wall, %.3f s CPU, %d commands (%.3f per file)"
                      % (round_number, name, wall, cpu, len(commands), len(commands) / files))
        for name, runs in results.items():
            print("median %-8s %.3f s wall, %.3f s CPU, %.3f commands per file"
                  % (name, statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
                     statistics.median(r[2] for r in runs) / files))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

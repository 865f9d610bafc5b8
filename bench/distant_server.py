#!/usr/bin/python3
"""A server far away: pyftpdlib behind the relay of the test support that
delivers every server reply a fixed delay late (25 ms by default), and the
program's `--run-once` against lftp's mirror on it, in interleaved rounds.

    distant_server.py TASKHAUL_BINARY [--mode transfer|only-newer] [--files N]
                      [--size BYTES] [--delay-ms MS] [--rounds N]

transfer (default): N files (200) of 4 KiB fetched into an empty folder by the
program with one connection and with four (Connections=4), `lftp mirror` and
`lftp mirror --parallel=4`.
only-newer: N files (2,000) that have not changed since the client's last run
(a first, untimed run fetches them without the delay), the program with "only
new or changed files" against `lftp mirror --only-newer`.

Every timed run gets a fresh server and relay; the files are compared with the
served ones after each run. Per client: median wall time, the ratio to the
program's, the commands sent per file (from the server's log), and how many
reply delays per file the wall time amounts to.
"""

import argparse
import filecmp
import os
import shutil
import statistics
import sys
import tempfile

from bench_support import DistantServer, FtpServer, measure, write_job

PASSWORD = "0"  # stored scrambled as "_" by write_job


def lftp_command(address, port, local, options):
    script = "set ftp:passive-mode on; set net:max-retries 1; mirror %s /pub %s; quit" % (options, local)
    return ["lftp", "-u", "bench," + PASSWORD, "-p", str(port), "-e", script, address]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program", help="the built taskhaul program")
    parser.add_argument("--mode", choices=("transfer", "only-newer"), default="transfer")
    parser.add_argument("--files", type=int, help="files in the folder (200 to transfer, 2,000 for only-newer)")
    parser.add_argument("--size", type=int, default=4096, help="bytes per file (4096)")
    parser.add_argument("--delay-ms", type=float, default=25.0, help="how late every server reply arrives (25)")
    parser.add_argument("--rounds", type=int, default=5)
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    files = options.files or (200 if options.mode == "transfer" else 2000)
    if shutil.which("lftp") is None:
        raise SystemExit("lftp is missing (scripts/setup.sh installs it)")
    if not os.access(program, os.X_OK):
        raise SystemExit(program + " is not a program: build the taskhaul target first")

    work = tempfile.mkdtemp(prefix="taskhaul-bench-distant-")
    try:
        root = os.path.join(work, "root")
        os.makedirs(os.path.join(root, "pub"))
        names = ["file%05d.dat" % i for i in range(files)]
        for name in names:
            with open(os.path.join(root, "pub", name), "wb") as f:
                f.write(os.urandom(options.size))
        config_home = os.path.join(work, "config")
        state = os.path.join(work, "state")
        os.makedirs(state)
        # Both clients read their settings from here, never from the user's own.
        os.environ.update(XDG_CONFIG_HOME=config_home, XDG_STATE_HOME=state, XDG_RUNTIME_DIR=state, LC_ALL="C")
        os.chmod(state, 0o700)

        only_newer = options.mode == "only-newer"

        def taskhaul_command(address, port, local, connections=1):
            write_job(config_home, port, local, address, only_newer, connections=connections)
            return [program, "--run-once"]

        clients = [("taskhaul", taskhaul_command)]
        if not only_newer:
            clients.append(("taskhaul Connections=4",
                            lambda address, port, local: taskhaul_command(address, port, local, 4)))
        if only_newer:
            clients.append(("lftp mirror --only-newer",
                            lambda address, port, local: lftp_command(address, port, local, "--only-newer")))
        else:
            clients.append(("lftp mirror", lambda address, port, local: lftp_command(address, port, local, "")))
            clients.append(("lftp mirror --parallel=4",
                            lambda address, port, local: lftp_command(address, port, local, "--parallel=4")))
        folders = {name: os.path.join(work, "local%d" % i) for i, (name, _) in enumerate(clients)}

        def check(name):
            local = folders[name]
            got = sorted(os.listdir(local))
            _, mismatch, errors = filecmp.cmpfiles(os.path.join(root, "pub"), local, names, shallow=False)
            if got != names or mismatch or errors:
                raise SystemExit("%s did not leave the folder as served (%d files, %d differ, %d missing)"
                                 % (name, len(got), len(mismatch), len(errors)))

        def run(name, make_command, delay_ms):
            log = os.path.join(work, "server.log")
            if os.path.exists(log):
                os.remove(log)
            with FtpServer(root, "bench", PASSWORD, "127.0.0.1", log) as server:
                if delay_ms is None:
                    wall, cpu, _, _ = measure(make_command(server.address, server.port, folders[name]))
                else:
                    with DistantServer(server.port, delay_ms) as distant:
                        wall, cpu, _, _ = measure(make_command(distant.address, distant.port, folders[name]))
                commands = len(server.commands())
            check(name)
            return wall, cpu, commands

        if only_newer:
            for name, make_command in clients:
                os.makedirs(folders[name])
                run(name, make_command, None)  # the first fetch, untimed and without the delay

        print("%s: %d files of %d bytes, every reply %.0f ms late, %d rounds"
              % (options.mode, files, options.size, options.delay_ms, options.rounds))
        results = {name: [] for name, _ in clients}
        for round_number in range(options.rounds):
            turn = round_number % len(clients)
            for name, make_command in clients[turn:] + clients[:turn]:
                if not only_newer:
                    shutil.rmtree(folders[name], ignore_errors=True)
                    os.makedirs(folders[name])
                wall, cpu, commands = run(name, make_command, options.delay_ms)
                results[name].append((wall, cpu, commands))
                print("round %d: %-26s %7.2f s wall, %5.2f s CPU, %.2f commands per file"
                      % (round_number + 1, name, wall, cpu, commands / files), flush=True)

        baseline = statistics.median(r[0] for r in results["taskhaul"])
        for name, runs in results.items():
            wall = statistics.median(r[0] for r in runs)
            print("median %-26s %7.2f s wall (%.2f x taskhaul), %5.2f s CPU, %.2f commands and %.2f reply "
                  "delays per file" % (name, wall, wall / baseline, statistics.median(r[1] for r in runs),
                                       statistics.median(r[2] for r in runs) / files,
                                       wall / files / (options.delay_ms / 1000.0) if options.delay_ms else 0.0))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

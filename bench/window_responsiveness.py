#!/usr/bin/python3
"""How responsive the main window stays during a large download.

Serves one file (1 GiB by default) from pyftpdlib on loopback, or with
--protocol sftp from an sshd of its own (see sftp_download.py), and downloads it
with the main window's Transfer command (offscreen platform), while a 10 ms
timer measures the gaps in the event loop. Prints the gaps' median, 99th
percentile and maximum for each round; the goal is a 99th percentile of 60 ms
or less.

With --connections N (the job's Connections) the same bytes are served as N
files, fetched at once over N connections.

    bench/window_responsiveness.py BUILD_DIR [--size-mib 1024] [--rounds 3] [--protocol ftp|sftp]
                                   [--connections N]
"""

import argparse
import getpass
import os
import subprocess
import sys
import tempfile

from bench_support import FtpServer
from sftp_download import Sshd


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--protocol", choices=("ftp", "sftp"), default="ftp")
    parser.add_argument("--connections", type=int, default=1)
    args = parser.parse_args()

    program = os.path.join(args.build_dir, "bench", "window_responsiveness")
    if not os.access(program, os.X_OK):
        sys.exit(f"{program} not built (cmake --build {args.build_dir} --target window_responsiveness)")

    with tempfile.TemporaryDirectory(prefix="taskhaul-bench-") as scratch:
        root = os.path.join(scratch, "root")
        out = os.path.join(scratch, "out")
        os.mkdir(root)
        os.mkdir(out)
        block = os.urandom(1024 * 1024)
        names = ["big.bin"] if args.connections <= 1 else [f"big{n}.bin" for n in range(args.connections)]
        for name in names:
            with open(os.path.join(root, name), "wb") as f:
                for _ in range(max(1, args.size_mib // len(names))):
                    f.write(block)
        pattern = "big.bin" if len(names) == 1 else "big*.bin"
        # Over several connections the job is passive: pyftpdlib, given several
        # active-mode data connections at once, now and then stops reading a
        # control connection (its other sockets stay in CLOSE-WAIT too); vsftpd
        # serves the same runs in active mode without a stall.
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", BENCH_CONNECTIONS=str(args.connections),
                   BENCH_PASSIVE="1" if args.connections > 1 else "0")

        def rounds(command):
            for round_ in range(1, args.rounds + 1):
                result = subprocess.run(command, stdout=subprocess.PIPE, text=True, env=env, check=True)
                print(f"round {round_}: {result.stdout.strip()}", flush=True)
                for name in names:
                    os.remove(os.path.join(out, name))

        if args.protocol == "ftp":
            with FtpServer(root) as server:
                rounds([program, server.address, str(server.port), "bench", "bench", pattern, out])
            return
        # The program's home knows the server's host key; no agent is asked.
        user = getpass.getuser()
        server = Sshd(scratch, user)
        try:
            home = os.path.join(scratch, "home")
            os.makedirs(os.path.join(home, ".ssh"))
            with open(os.path.join(scratch, "host.pub")) as key, \
                    open(os.path.join(home, ".ssh", "known_hosts"), "w") as known:
                known.write(f"[127.0.0.1]:{server.port} {' '.join(key.read().split()[:2])}\n")
            env["HOME"] = home
            env.pop("SSH_AUTH_SOCK", None)
            rounds([program, "127.0.0.1", str(server.port), user, "", pattern, out, "sftp", server.key, root])
        finally:
            server.stop()


if __name__ == "__main__":
    main()

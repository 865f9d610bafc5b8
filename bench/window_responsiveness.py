#!/usr/bin/python3
"""How responsive the main window stays during a large download.

Serves one file (1 GiB by default) from pyftpdlib on loopback and downloads it
with the main window's Transfer command (offscreen platform), while a 10 ms
timer measures the gaps in the event loop. Prints the gaps' median, 99th
percentile and maximum for each round; the goal is a 99th percentile of 60 ms
or less.

    bench/window_responsiveness.py BUILD_DIR [--size-mib 1024] [--rounds 3]
"""

import argparse
import os
import subprocess
import sys
import tempfile

from bench_support import FtpServer


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    program = os.path.join(args.build_dir, "bench", "window_responsiveness")
    if not os.access(program, os.X_OK):
        sys.exit(f"{program} not built (cmake --build {args.build_dir} --target window_responsiveness)")

    with tempfile.TemporaryDirectory(prefix="taskhaul-bench-") as scratch:
        root = os.path.join(scratch, "root")
        out = os.path.join(scratch, "out")
        os.mkdir(root)
        os.mkdir(out)
        with open(os.path.join(root, "big.bin"), "wb") as f:
            block = os.urandom(1024 * 1024)
            for _ in range(args.size_mib):
                f.write(block)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        with FtpServer(root) as server:
            for round_ in range(1, args.rounds + 1):
                result = subprocess.run([program, server.address, str(server.port), "bench", "bench", "big.bin", out],
                                        stdout=subprocess.PIPE, text=True, env=env, check=True)
                print(f"round {round_}: {result.stdout.strip()}", flush=True)
                os.remove(os.path.join(out, "big.bin"))


if __name__ == "__main__":
    main()

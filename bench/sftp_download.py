#!/usr/bin/python3
"""SFTP download speed of the project's client and of the program itself
(`taskhaul --run-once` with an SFTP job) against OpenSSH's sftp, curl and lftp.

Starts sshd with a configuration, host key and authorized key of its own on a
loopback port (never the system's service; run as the user sshd will let in,
root on CI) and fetches, in interleaved rounds, one large file and a folder of
many small files with each client. Prints every run, the medians and the
client's ratios to each other client.

    bench/sftp_download.py BUILD_DIR [--size-mib 1024] [--files 2000] [--file-kib 4] [--rounds 5]
"""

import argparse
import getpass
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from bench_support import measure, medians


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sshd:
    def __init__(self, folder, user):
        self.key = os.path.join(folder, "client")
        host = os.path.join(folder, "host")
        for path in (self.key, host):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", path], check=True)
        shutil.copy(self.key + ".pub", os.path.join(folder, "authorized_keys"))
        listed = subprocess.run(["ssh-keygen", "-l", "-E", "sha256", "-f", host + ".pub"], check=True,
                                capture_output=True, text=True).stdout
        self.fingerprint = listed.split()[1]
        self.port = free_port()
        config = os.path.join(folder, "sshd_config")
        with open(config, "w") as out:
            out.write(f"Port {self.port}\nListenAddress 127.0.0.1\nHostKey {host}\nPidFile none\n"
                      f"AuthorizedKeysFile {folder}/authorized_keys\nStrictModes no\nUsePAM no\n"
                      f"PermitRootLogin yes\nPasswordAuthentication no\nAllowUsers {user}\n"
                      "Subsystem sftp internal-sftp\n")
        os.makedirs("/run/sshd", exist_ok=True)
        self.process = subprocess.Popen(["/usr/sbin/sshd", "-D", "-f", config, "-E", os.path.join(folder, "log")])
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    sys.exit("sshd did not start")
                time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def write_sftp_job(config_home, server, user, folder, local):
    """A job fetching every file of `folder` over SFTP with the server's key trusted."""
    os.makedirs(os.path.join(config_home, "Velmora"), exist_ok=True)
    with open(os.path.join(config_home, "Velmora", "Taskhaul.conf"), "w") as conf:
        conf.write(f"[Options]\nHost=127.0.0.1\nHostport={server.port}\nUsername={user}\nPassword=\n"
                   f"Remote={folder}\nLocaldir={local}\ncopytype=option1\noverwrite=True\n"
                   "starttime=00:00:00\ndelay=60\nsequencevalue=0\nscheduletype=option2\n"
                   "renamecheck=False\nresetsequence=False\nProtocol=sftp\n"
                   f"KeyFile={server.key}\nTrustedHostKey={server.fingerprint}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--file-kib", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    client = os.path.join(args.build_dir, "bench", "sftp_download")
    if not os.access(client, os.X_OK):
        sys.exit(f"{client} not built (cmake -DTASKHAUL_BENCH=ON, --target sftp_download)")
    program = os.path.join(args.build_dir, "src", "app", "taskhaul")
    if not os.access(program, os.X_OK):
        sys.exit(f"{program} not built")
    user = getpass.getuser()

    with tempfile.TemporaryDirectory(prefix="taskhaul-bench-sftp-") as scratch:
        big = os.path.join(scratch, "big")
        small = os.path.join(scratch, "small")
        out = os.path.join(scratch, "out")
        os.mkdir(big)
        os.mkdir(small)
        with open(os.path.join(big, "big.bin"), "wb") as f:
            block = os.urandom(1024 * 1024)
            for _ in range(args.size_mib):
                f.write(block)
        width = len(str(args.files))
        for i in range(1, args.files + 1):
            with open(os.path.join(small, f"f{i:0{width}d}.bin"), "wb") as f:
                f.write(os.urandom(args.file_kib * 1024))

        server = Sshd(scratch, user)
        # The program's own settings, state and log, and no agent: it signs in
        # with the key file, as the other clients do.
        config_home = os.path.join(scratch, "config")
        os.environ.update(XDG_CONFIG_HOME=config_home, XDG_STATE_HOME=os.path.join(scratch, "state"),
                          XDG_RUNTIME_DIR=scratch, LC_ALL="C")
        os.environ.pop("SSH_AUTH_SOCK", None)
        ssh = (f"ssh -a -x -F /dev/null -i {server.key} -o IdentitiesOnly=yes "
               "-o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no -o LogLevel=ERROR")
        try:
            for label, folder, glob, count, size in (
                    (f"1 x {args.size_mib} MiB", big, "big.bin", 1, args.size_mib * 1024 * 1024),
                    (f"{args.files} x {args.file_kib} KiB", small, f"f[{1:0{width}d}-{args.files}].bin",
                     args.files, args.file_kib * 1024)):
                batch = os.path.join(scratch, "batch")
                with open(batch, "w") as b:
                    b.write(f"get {folder}/* {out}/\n")
                url = f"sftp://{user}@127.0.0.1:{server.port}{folder}/{glob}"
                write_sftp_job(config_home, server, user, folder, out)
                clients = {
                    "run-once": [program, "--run-once"],
                    "taskhaul": [client, "127.0.0.1", str(server.port), user, server.key, server.fingerprint,
                                 folder, out],
                    "sftp": ["sftp", "-q", "-b", batch, "-P", str(server.port)] + ssh.split()[3:]
                            + [f"{user}@127.0.0.1"],
                    "curl": ["curl", "-s", "-k", "--key", server.key, "--pubkey", server.key + ".pub",
                             "-o", f"{out}/#1" if count > 1 else f"{out}/big.bin", url],
                    "lftp": ["lftp", "-c", f"set sftp:connect-program '{ssh}'; set net:max-retries 1; "
                             f"open -u {user}, sftp://127.0.0.1:{server.port}; mirror {folder} {out}"],
                }
                if count > 1:
                    clients["curl"][-2] = f"{out}/f#1.bin"
                results = {name: [] for name in clients}
                print(f"== {label}")
                for round_ in range(args.rounds):
                    for name, command in clients.items():
                        shutil.rmtree(out, ignore_errors=True)
                        os.mkdir(out)
                        wall, cpu, rss, _ = measure(command)
                        got = sorted(os.listdir(out))
                        if len(got) != count or any(os.path.getsize(os.path.join(out, n)) != size for n in got):
                            sys.exit(f"{name}: wrong result ({len(got)} files)")
                        results[name].append((wall, cpu, rss))
                        print(f"round {round_ + 1} {name:9s} wall {wall:7.3f} s  {count * size / wall / 1e6:8.1f} MB/s"
                              f"  cpu {cpu:6.3f} s  peak {rss:6.1f} MiB")
                med = medians(results)
                for name, (wall, cpu, rss) in med.items():
                    print(f"median {name:9s} wall {wall:7.3f} s  cpu {cpu:6.3f} s  peak {rss:6.1f} MiB")
                for ours_name in ("run-once", "taskhaul"):
                    ours = med[ours_name]
                    for name, theirs in med.items():
                        if name in ("run-once", "taskhaul"):
                            continue
                        cpu = f"{ours[1] / theirs[1]:.2f}x" if theirs[1] > 0 else "n/a (too small to measure)"
                        print(f"{ours_name} vs {name}: speed {theirs[0] / ours[0]:.2f}x, CPU time {cpu}")
                print()
        finally:
            server.stop()


if __name__ == "__main__":
    main()

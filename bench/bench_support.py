"""What the benchmark scripts share: the FTP server they measure against
(pyftpdlib serving one folder read-only to one user, on a loopback address and
a port of its own), the relay that makes it a distant server, the job the
program runs, and the measuring of one run of a client."""

import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

_SERVER = r'''
import logging, sys, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password, address, delay, machine = sys.argv[1:7]
# With a log file, every command the clients send is written to it.
if len(sys.argv) > 7:
    logging.basicConfig(filename=sys.argv[7], level=logging.DEBUG)
else:
    logging.basicConfig(level=logging.WARNING)


class Handler(FTPHandler):
    # A distant server: every reply comes this many seconds late.
    def respond(self, resp, logfun=logging.debug):
        if float(delay) > 0:
            time.sleep(float(delay))
        super().respond(resp, logfun)


if machine == "0":
    # A server without machine listings: FEAT lists no MLST, MLSD is unknown.
    Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
Handler.authorizer = authorizer
server = FTPServer((address, 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
'''


class _ListeningProcess:
    """A process that prints the port it listens on as its first line; `port`
    is known when the constructor returns. Use it as a context manager, or call
    stop()."""

    def __init__(self, command, what):
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.strip().isdigit():
            self.stop()
            raise SystemExit(f"{what} did not start")
        self.port = int(line)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class FtpServer(_ListeningProcess):
    """Starts the server at once."""

    def __init__(self, root, user="bench", password="bench", address="127.0.0.1", command_log=None,
                 reply_delay=0.0, machine_listings=True):
        """`reply_delay`: seconds every reply comes late; `machine_listings`:
        whether the server offers MLST and MLSD."""
        self.address = address
        self.command_log = command_log
        extra = [command_log] if command_log else []
        super().__init__(["/usr/bin/python3", "-c", _SERVER, root, user, password, address, str(reply_delay),
                          "1" if machine_listings else "0"] + extra, f"the FTP server on {address}")

    def commands(self):
        """The command lines clients sent, as the server logged them."""
        if not self.command_log or not os.path.exists(self.command_log):
            return []
        with open(self.command_log, errors="replace") as log:
            return [line.split("<- ", 1)[1].strip() for line in log if "<- " in line]


# The relay of the test support whose server replies arrive a fixed delay late.
DISTANT_SERVER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "support",
                                     "ftp", "distant_server.py")


class DistantServer(_ListeningProcess):
    """A server `delay_ms` away: the relay in front of a server's port on
    127.0.0.1. Clients connect to `address`:`port`."""

    def __init__(self, server_port, delay_ms=25):
        self.address = "127.0.0.1"
        super().__init__(["/usr/bin/python3", DISTANT_SERVER_SCRIPT, "--server-port", str(server_port),
                          "--delay-ms", str(delay_ms)], "the distant-server relay")


def write_job(config_home, port, local, address, only_newer=True, user="bench", connections=1):
    """The program's settings: one job fetching every file of /pub (`user`,
    password "0") into `local`, overwriting, with "only new or changed files"
    and the number of connections as asked."""
    folder = os.path.join(config_home, "Velmora")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Taskhaul.conf"), "w") as conf:
        conf.write("[Options]\nHost=%s\nHostport=%d\nUsername=%s\nPassword=_\nRemote=/pub\n"
                   "Localdir=%s\ncopytype=option1\npassive=True\noverwrite=True\nstarttime=00:00:00\n"
                   "delay=60\nsequencevalue=0\nscheduletype=option2\nrenamecheck=False\n"
                   "resetsequence=False\nOnlyNewer=%s\n" % (address, port, user, local, only_newer))
        if connections != 1:
            conf.write("Connections=%d\n" % connections)


def measure(command):
    """Runs a command; returns wall seconds, CPU seconds, peak RSS in MiB and
    what it wrote to standard output.

    GNU time reports the figures: a child forked from this Python process would
    count Python's own memory as its peak."""
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("/usr/bin/time is missing: install Debian's time package (scripts/setup.sh)")
    with tempfile.NamedTemporaryFile("r", prefix="taskhaul-bench-time-") as report:
        start = time.monotonic()
        result = subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%U %S %M"] + command,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wall = time.monotonic() - start
        if result.returncode != 0:
            sys.exit(f"failed: {' '.join(command)}: {result.stderr.decode(errors='replace')}")
        user, system, peak_kib = report.read().split()[-3:]
    return wall, float(user) + float(system), int(peak_kib) / 1024.0, result.stdout


def medians(results):
    """{name: [(wall, cpu, peak), ...]} -> {name: (median wall, median cpu, median peak)}"""
    return {name: tuple(statistics.median(run[i] for run in runs) for i in range(3))
            for name, runs in results.items()}


def free_port():
    """A loopback port that was free a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_vsftpd(scratch, root, extra_config=""):
    """vsftpd (needs root) serving `root` read-only to anonymous users on a free
    loopback port, passive, with a configuration of its own in `scratch` plus
    `extra_config` lines; returns (process, port)."""
    empty = os.path.join(scratch, "empty")
    os.mkdir(empty)
    port = free_port()
    config = os.path.join(scratch, "vsftpd.conf")
    with open(config, "w") as f:
        f.write(f"""listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root={root}
local_enable=NO
write_enable=NO
secure_chroot_dir={empty}
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
vsftpd_log_file={scratch}/vsftpd.log
pasv_enable=YES
""" + extra_config)
    os.chmod(config, 0o600)
    process = subprocess.Popen(["/usr/sbin/vsftpd", config])
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process, port
        except OSError:
            time.sleep(0.02)
    process.terminate()
    sys.exit("vsftpd did not start")


def timed_download(round_, name, command, target, size, results):
    """Runs one client's download of `size` bytes into `target` (removed first),
    checks it arrived whole, adds (wall, cpu, peak) to results[name] and prints
    the round's line."""
    if os.path.exists(target):
        os.remove(target)
    wall, cpu, rss, _ = measure(command)
    if not os.path.exists(target) or os.path.getsize(target) != size:
        sys.exit(f"{name}: the download is incomplete")
    results[name].append((wall, cpu, rss))
    print(f"round {round_ + 1} {name:9s} {size / wall / 1e6:8.0f} MB/s  "
          f"wall {wall:6.3f} s  cpu {cpu:6.3f} s  peak {rss:6.1f} MiB", flush=True)


def print_download_medians(results, size):
    """The medians of each client's downloads, then taskhaul against each other
    client: throughput, CPU time and peak memory."""
    med = medians(results)
    print()
    for name, (wall, cpu, rss) in med.items():
        print(f"median {name:9s} {size / wall / 1e6:8.0f} MB/s  cpu {cpu:6.3f} s  peak {rss:6.1f} MiB")
    t = med["taskhaul"]
    for other in [name for name in med if name != "taskhaul"]:
        o = med[other]
        print(f"taskhaul/{other}: throughput {o[0] / t[0]:.2f}x, CPU time {t[1] / o[1]:.2f}, "
              f"peak memory {t[2] / o[2]:.2f}")

#!/usr/bin/env bash
# Runs `taskhaul --run-once` many times over 4 and 8 connections against an
# FTP server (pyftpdlib) that misbehaves at random: it cuts connections at
# login, answers or cuts at PASV and EPSV (425, 421, a closed connection), and
# cuts downloads mid-file (a closed connection, or part of the file followed
# by 226); some runs also limit the server's connections (max_cons). Every
# run must end within a time bound with exit status 0 or 1, leave only whole
# files (byte for byte the server's) and no temporary, fetch everything when
# it exits with 0, and have every file its log calls complete in place.
#
#   bash scripts/hostile-ftp.sh [build-folder]       (default: build)
#   RUNS=100 SEED=1234 bash scripts/hostile-ftp.sh    (SEED repeats a series)
#   VERBOSE=1 ...                                     (prints the log of each run that fails)
#
# The seed is printed first; the whole series stops after 9 minutes at the
# latest. Traffic stays on 127.0.0.1. Not part of CI: it takes minutes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
runs=${RUNS:-100}
seed=${SEED:-$(( (RANDOM << 15) | RANDOM ))}

if ! /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
    echo "pyftpdlib is missing: install python3-pyftpdlib (scripts/setup.sh)." >&2
    exit 2
fi
cmake --build "$build" --target taskhaul >/dev/null

exec /usr/bin/python3 - "$build/src/app/taskhaul" "$runs" "$seed" "${VERBOSE:-}" <<'PY'
import os, random, re, shutil, subprocess, sys, tempfile, time

program, runs, seed, verbose = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), bool(sys.argv[4])
RUN_BOUND = 60.0        # seconds one run may take
SERIES_BOUND = 9 * 60.0  # seconds the whole series may take
FILES = 40

SERVER = r'''
import logging, random, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

folder, user, password, seed, rate, most = sys.argv[1:7]
rng = random.Random(int(seed))
rate = float(rate)
logging.basicConfig(level=logging.CRITICAL)

class Hostile(FTPHandler):
    def hit(self):
        return rng.random() < rate

    def refuse_data(self):
        how = rng.randrange(3)
        if how == 0:
            self.close()
        elif how == 1:
            self.respond("425 Too many connections. Can't open data channel.")
        else:
            self.respond("421 Too many connections. Service temporarily unavailable.")
            self.close_when_done()

    def ftp_PASS(self, line):
        if self.hit():
            self.close()
            return
        return FTPHandler.ftp_PASS(self, line)

    def ftp_PASV(self, line):
        if self.hit():
            return self.refuse_data()
        return FTPHandler.ftp_PASV(self, line)

    def ftp_EPSV(self, line=""):
        if self.hit():
            return self.refuse_data()
        return FTPHandler.ftp_EPSV(self, line)

    def ftp_RETR(self, file):
        if not self.hit():
            return FTPHandler.ftp_RETR(self, file)
        with open(file, "rb") as source:
            data = source.read()
        how = rng.randrange(3)
        if how == 0:
            self.respond("150 File status okay. About to open data connection.")
            self.close()
            return
        # Part of the file: then 226 (a short transfer), or the connection cut.
        self.push_dtp_data(data[:rng.randrange(len(data))] if data else b"", isproducer=False, cmd="RETR")
        if how == 2:
            self.ioloop.call_later(0.01, self.close)

authorizer = DummyAuthorizer()
authorizer.add_user(user, password, folder, perm="elr")
Hostile.authorizer = authorizer
Hostile.banner = "hostile pyftpdlib ready."
server = FTPServer(("127.0.0.1", 0), Hostile)
server.max_cons = int(most)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
'''

def scramble(text):
    key, out = 28417, []
    for ch in text:
        s = ord(ch) ^ (key >> 8)
        out.append(chr(s))
        key = ((s + key) * 39173 + 30757) & 0xFFFF
    return "".join(out)

rng = random.Random(seed)
print("seed %d, %d run(s)" % (seed, runs), flush=True)
work = tempfile.mkdtemp(prefix="taskhaul-hostile-")
try:
    served = os.path.join(work, "served")
    os.mkdir(served)
    sources = {}
    for n in range(FILES):
        name = "f%03d.bin" % n
        size = rng.choice([0, 1, rng.randrange(1, 4096), rng.randrange(4096, 300000)])
        sources[name] = bytes(rng.getrandbits(8) for _ in range(size))
        with open(os.path.join(served, name), "wb") as out:
            out.write(sources[name])
    # A password whose scrambled form the settings file holds as plain letters.
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    while True:
        password = "".join(rng.choice(letters) for _ in range(8))
        if all(c in letters for c in scramble(password)):
            break
    shutil.copy(program, os.path.join(work, "taskhaul"))
    script = os.path.join(work, "server.py")
    with open(script, "w") as out:
        out.write(SERVER)
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS")}
    environment.update(XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_STATE_HOME=os.path.join(work, "state"),
                       XDG_RUNTIME_DIR=os.path.join(work, "state"), LC_ALL="C")
    os.makedirs(os.path.join(work, "config", "Velmora"))
    os.makedirs(os.path.join(work, "state"), mode=0o700)
    log = os.path.join(work, "dunmark.txt")
    started = time.monotonic()
    failures, statuses, slowest, done = [], {}, 0.0, 0
    for run in range(1, runs + 1):
        if time.monotonic() - started > SERIES_BOUND - RUN_BOUND:
            failures.append("the series ran out of time after %d run(s)" % done)
            break
        connections = rng.choice([4, 8])
        rate = rng.choice([0.01, 0.02, 0.05, 0.1])
        most = rng.choice([512, 512, 512, 4, 6])
        local = os.path.join(work, "in")
        shutil.rmtree(local, ignore_errors=True)
        os.mkdir(local)
        server = subprocess.Popen(["/usr/bin/python3", script, served, "taskhaul", password,
                                   str(rng.getrandbits(31)), str(rate), str(most)],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            port = int(server.stdout.readline())
            with open(os.path.join(work, "config", "Velmora", "Taskhaul.conf"), "w") as conf:
                conf.write("[Options]\nAutoload=False\nAutostart=False\nMinimized=False\n"
                           "Host=127.0.0.1\nHostport=%d\nRemote=\nUsername=taskhaul\nPassword=%s\n"
                           "Localdir=%s\ncopytype=option1\nfile=\nrenamecheck=False\nrenameto=\n"
                           "starttime=06:00:00\ndelay=5\nscheduletype=option2\nProxytype=0\nProxyhost=\n"
                           "Proxyport=0\nProxyusername=\nProxypassword=\npassive=True\noverwrite=True\n"
                           "resetsequence=False\nsequencevalue=0\nConnections=%d\n"
                           % (port, scramble(password), local, connections))
            if os.path.exists(log):
                os.remove(log)
            begun = time.monotonic()
            try:
                result = subprocess.run([os.path.join(work, "taskhaul"), "--run-once"], env=environment,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        errors="replace", timeout=RUN_BOUND)
                status, output = result.returncode, result.stdout + result.stderr
            except subprocess.TimeoutExpired:
                status, output = "timeout", ""
            took = time.monotonic() - begun
        finally:
            server.terminate()
            server.wait()
        done += 1
        slowest = max(slowest, took)
        statuses[status] = statuses.get(status, 0) + 1
        what = "run %d (%d connections, fault rate %.2f, max_cons %d)" % (run, connections, rate, most)
        problems = []
        if status not in (0, 1):
            problems.append("exit status %s" % status)
        if took > RUN_BOUND:
            problems.append("took %.1f s" % took)
        present = sorted(os.listdir(local))
        for name in present:
            if name not in sources:
                problems.append("left %r" % name)
                continue
            with open(os.path.join(local, name), "rb") as got:
                if got.read() != sources[name]:
                    problems.append("%s differs from the server's" % name)
        if status == 0 and len(present) != FILES:
            problems.append("exit status 0 with %d of %d files" % (len(present), FILES))
        for name in re.findall(r"Data transfer complete \([\d,]+ Bytes\): (\S+)", output):
            if name not in present:
                problems.append("%s logged complete, but missing" % name)
        if problems:
            failures.append(what + ": " + "; ".join(problems))
        print("%s: exit %s, %d file(s), %.1f s%s" % (what, status, len(present), took,
                                                     "  FAILED" if problems else ""), flush=True)
        if verbose and (problems or status != 0):
            print("    " + output.replace("\n", "\n    "), flush=True)
    print("seed %d: %d run(s) in %.0f s, slowest %.1f s, exit statuses %s"
          % (seed, done, time.monotonic() - started, slowest,
             ", ".join("%s: %d" % item for item in sorted(statuses.items(), key=str))))
    for failure in failures:
        print("FAILED " + failure)
    print("PASSED" if not failures else "%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
finally:
    shutil.rmtree(work, ignore_errors=True)
PY

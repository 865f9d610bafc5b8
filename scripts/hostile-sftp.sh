#!/usr/bin/env bash
# Runs `taskhaul --run-once` many times (100 by default) over 4 and 8
# connections against the scripted SFTP server
# (tests/support/sftp/scripted_sftp_server.py) while it cuts, hangs up on or
# stalls connections at a stage drawn at random: the key exchange, the
# sign-in, the SFTP channel, the middle of the listing or of a file, of the
# first connection or of the further ones. After each run every local file is
# compared byte for byte with its source, no temporary may be left, the run
# must end within a time bound, and the exit status must be what the fault
# allows; in some runs the server stalls the first connection and a SIGTERM
# must end the run within a second. Prints the seed first (give it back with --seed to repeat a series)
# and a summary last; exits with 1 when any run failed a check.
#
#   bash scripts/hostile-sftp.sh [--build DIR] [--runs N] [--seed S] [--bound SECONDS]
#
# Needs a build of the program (cmake --build build --target taskhaul
# taskhaul_sftp_module) and Python's asyncssh. Traffic stays on 127.0.0.1.
# Bounded: the series stops at ten minutes, whatever is left. Not part of CI.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
runs=100
seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
bound=30
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --bound) bound=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--runs N] [--seed S] [--bound SECONDS]" >&2; exit 2 ;;
  esac
done
for file in "$build/src/app/taskhaul" "$build/src/app/taskhaul-sftp.so"; do
  [ -e "$file" ] || { echo "$file is missing: cmake --build $build --target taskhaul taskhaul_sftp_module" >&2; exit 2; }
done

scratch=$(mktemp -d /tmp/taskhaul-hostile-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# The activity log lies beside the program: a copy keeps these runs' lines
# out of the build's log.
mkdir -p "$scratch/bin"
cp "$build/src/app/taskhaul" "$build/src/app/taskhaul-sftp.so" "$scratch/bin/"

exec /usr/bin/python3 - "$scratch" "$root/tests/support/sftp/scripted_sftp_server.py" "$runs" "$seed" "$bound" <<'PYTHON'
import collections
import os
import random
import shutil
import subprocess
import sys
import time

scratch, server_script, runs, seed, bound = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
program = os.path.join(scratch, "bin", "taskhaul")
series_limit = 600.0
CONNECT_STAGES = ["kex", "auth", "auth-try", "channel", "sftp"]
print(f"seed {seed}: {runs} runs, each bounded at {bound:.0f} s", flush=True)
rng = random.Random(seed)

subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(scratch, "key")], check=True)
environment = dict(os.environ, HOME=os.path.join(scratch, "home"), XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                   XDG_STATE_HOME=os.path.join(scratch, "state"), LC_ALL="C")
environment.pop("SSH_AUTH_SOCK", None)
os.makedirs(os.path.join(scratch, "config", "Velmora"))


def draw():
    """A fault and what a sound run does with it: (fault, connections, expect) where
    expect is "all" (exit 0, every file fetched), "fail" (exit 1, whatever
    was fetched whole) or "signal" (the server stalls the first connection, a
    SIGTERM comes, and the run ends within a second with status 143)."""
    connections = rng.choice([4, 8])
    stage = rng.choice(CONNECT_STAGES + ["listing", "file"])
    if rng.random() < 0.2:
        return f"{stage}:stall:1", connections, "signal"
    whom = rng.choice(["1", "2-", "further one", "all"])
    if stage == "listing":
        whom = rng.choice(["1", "all"])  # only the first connection lists
    if whom == "further one":
        whom = str(rng.randint(2, connections))
    # A server that stops answering is waited for up to the time limits
    # (two or five minutes): stalls only where a run does not wait for them,
    # the sign-in of further connections it no longer needs.
    actions = ["cut", "hangup"] + (["stall"] if stage in CONNECT_STAGES and whom not in ("1", "all") else [])
    action = rng.choice(actions)
    # The first connection lists: without it nothing is fetched. A file cut
    # on one connection is fetched by another; on every one, by none.
    expect = "fail" if whom == "all" or (whom == "1" and stage != "file") else "all"
    fault = f"{stage}:{action}" + ("" if whom == "all" else ":" + whom)
    return fault, connections, expect


def write_job(port, fingerprint, local, connections):
    with open(os.path.join(scratch, "config", "Velmora", "Taskhaul.conf"), "w") as conf:
        conf.write("[Options]\nHost=127.0.0.1\nHostport=%d\nUsername=user\nPassword=\nRemote=/\n"
                   "Localdir=%s\ncopytype=option1\npassive=True\noverwrite=True\nstarttime=00:00:00\n"
                   "delay=60\nsequencevalue=0\nscheduletype=option2\nrenamecheck=False\nresetsequence=False\n"
                   "Protocol=sftp\nKeyFile=%s\nTrustedHostKey=%s\nConnections=%d\n"
                   % (port, local, os.path.join(scratch, "key"), fingerprint, connections))


def one_run(number, fault, connections, expect):
    """Returns (seconds, problems)."""
    work = os.path.join(scratch, "run")
    shutil.rmtree(work, ignore_errors=True)
    served, local = os.path.join(work, "root"), os.path.join(work, "local")
    os.makedirs(served)
    os.makedirs(local)
    os.makedirs(environment["HOME"], exist_ok=True)
    sources = {}
    for n in range(rng.randint(8, 40)):
        size = rng.choice([0, 1, 100, 32767, 32768, 32769]) if rng.random() < 0.2 else rng.randint(2, 300_000)
        sources[f"file{n:02d}.bin"] = rng.randbytes(size)
    for name, data in sources.items():
        with open(os.path.join(served, name), "wb") as out:
            out.write(data)
    shutil.copy(os.path.join(scratch, "key.pub"), os.path.join(work, "authorized_keys"))
    server = subprocess.Popen(["/usr/bin/python3", server_script, served, "publickey", "-", fault],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        port = int(server.stdout.readline())
        with open(os.path.join(work, "fingerprint")) as f:
            fingerprint = f.read().strip()
        write_job(port, fingerprint, local, connections)
        started = time.monotonic()
        run = subprocess.Popen([program, "--run-once"], env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
        signalled = None
        if expect == "signal":
            try:
                run.wait(timeout=rng.uniform(0.5, 1.5))
            except subprocess.TimeoutExpired:
                signalled = time.monotonic()
                run.terminate()
        try:
            output = run.communicate(timeout=bound)[0].decode(errors="replace")
            status = run.returncode
        except subprocess.TimeoutExpired:
            run.kill()
            output, status = run.communicate()[0].decode(errors="replace"), None
        seconds = time.monotonic() - started
    finally:
        server.kill()
        server.wait()
    problems = []
    if status is None:
        problems.append(f"still running after {bound:.0f} s (killed)")
    fetched = 0
    for name in sorted(os.listdir(local)):
        path = os.path.join(local, name)
        if name not in sources:
            problems.append(f"{name}: not a file of the server (a temporary left behind?)")
            continue
        with open(path, "rb") as f:
            if f.read() != sources[name]:
                problems.append(f"{name}: holds other bytes than its source")
            else:
                fetched += 1
    if status is not None and expect == "all" and (status != 0 or fetched != len(sources)):
        problems.append(f"exit status {status} with {fetched} of {len(sources)} files; "
                        "every file was due")
    if status is not None and expect == "fail" and status != 1:
        problems.append(f"exit status {status}; 1 was due")
    if expect == "signal" and signalled is None:
        problems.append(f"ended with status {status} before the SIGTERM, with the server stalled")
    if status is not None and signalled is not None:
        after = started + seconds - signalled
        if status != 143 or after > 1.0:
            problems.append(f"exit status {status} {after:.2f} s after SIGTERM; 143 within a second was due")
    if problems:
        problems.append("its output:\n    " + "\n    ".join(output.strip().splitlines()[-15:]))
    return seconds, problems


series_start = time.monotonic()
durations, failures, done = [], [], 0
by_stage = collections.Counter()
for number in range(1, runs + 1):
    if time.monotonic() - series_start > series_limit - bound - 5:
        print(f"stopped after {done} runs: the series is bounded at {series_limit:.0f} s")
        break
    fault, connections, expect = draw()
    seconds, problems = one_run(number, fault, connections, expect)
    done += 1
    durations.append(seconds)
    by_stage[fault.split(":")[0]] += 1
    verdict = "ok" if not problems else "FAILED"
    fault_text = fault + (" +SIGTERM" if expect == "signal" else "")
    print(f"run {number:3d}: {connections} connections, {fault_text:28s} {seconds:6.2f} s  {verdict}", flush=True)
    for problem in problems:
        print("    " + problem)
    if problems:
        failures.append((number, fault, connections))

print()
print(f"seed {seed}: {done} runs in {time.monotonic() - series_start:.0f} s, "
      f"longest {max(durations, default=0):.2f} s, median "
      f"{sorted(durations)[len(durations) // 2] if durations else 0:.2f} s")
print("stages: " + ", ".join(f"{stage} {count}" for stage, count in sorted(by_stage.items())))
if failures:
    print(f"{len(failures)} run(s) failed: " + ", ".join(f"#{n} ({f}, {c})" for n, f, c in failures))
    sys.exit(1)
print("every file fetched was byte for byte its source's, and no run exceeded the bound")
PYTHON

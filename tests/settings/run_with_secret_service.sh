#!/usr/bin/env bash
# Runs the desktop keyring tests (the program given as $1) against a real Secret
# Service: gnome-keyring-daemon on a private session bus, its login keyring
# created and unlocked with a password fed on standard input; then again with a
# daemon that the test restarts while it runs. Then runs the
# no-keyring tests on a private bus that nothing serves the keyring on, and with
# no session bus at all. The user's own bus and keyrings are never touched.
set -euo pipefail

program=${1:?usage: run_with_secret_service.sh TEST_PROGRAM}
for tool in dbus-run-session dbus-daemon dbus-send gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/data" "$work/run"
chmod 700 "$work/run"

# A session bus of our own. It starts no services, so the keyring exists on it
# only when this script starts one.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

# Starts the daemon (stopping the one started before) and waits until it
# serves the keyring; a test runs it again to restart the daemon under it.
cat >"$work/start-keyring.sh" <<'EOF'
set -euo pipefail
has_owner() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'
}
if [ -s "$WORK/keyring.pid" ]; then
  kill "$(cat "$WORK/keyring.pid")" 2>/dev/null || true
  for _ in $(seq 100); do has_owner || break; sleep 0.1; done
fi
printf '%s' 'keyring test password' \
  | gnome-keyring-daemon --foreground --components=secrets --unlock >>"$WORK/keyring.log" 2>&1 &
echo $! >"$WORK/keyring.pid"
for _ in $(seq 100); do has_owner && exit 0; sleep 0.1; done
exit 1
EOF

cat >"$work/with-keyring.sh" <<'EOF'
set -euo pipefail
trap 'kill "$(cat "$WORK/keyring.pid")" 2>/dev/null || true' EXIT
bash "$WORK/start-keyring.sh"
"$PROGRAM" --gtest_filter='DesktopKeyring.*'
# Locks the keyring for good, so it runs last.
"$PROGRAM" --gtest_filter='LockedDesktopKeyring.*'
EOF

# A daemon restarted under a running test, in a session and keyring of its own.
cat >"$work/with-restarted-keyring.sh" <<'EOF'
set -euo pipefail
rm -f "$WORK/keyring.pid"
trap 'kill "$(cat "$WORK/keyring.pid")" 2>/dev/null || true' EXIT
bash "$WORK/start-keyring.sh"
TASKHAUL_TEST_RESTART_KEYRING="bash $WORK/start-keyring.sh" "$PROGRAM" --gtest_filter='RestartedDesktopKeyring.*'
EOF

export WORK=$work PROGRAM=$program
# The daemon keeps its keyrings under XDG_DATA_HOME and its sockets under XDG_RUNTIME_DIR.
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_RUNTIME_DIR=$work/run
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION

status=0
echo "== with gnome-keyring-daemon on a private session bus"
dbus-run-session --config-file="$work/bus.conf" -- bash "$work/with-keyring.sh" || {
  status=1
  echo "--- keyring daemon's output:"
  cat "$work/keyring.log" || true
}

echo "== with a keyring daemon that restarts"
mkdir -p "$work/home/data-restarted"
XDG_DATA_HOME=$work/home/data-restarted dbus-run-session --config-file="$work/bus.conf" -- \
  bash "$work/with-restarted-keyring.sh" || {
  status=1
  echo "--- keyring daemon's output:"
  cat "$work/keyring.log" || true
}

echo "== on a private session bus without a keyring"
dbus-run-session --config-file="$work/bus.conf" -- "$program" --gtest_filter='NoDesktopKeyring.*' || status=1

echo "== without a session bus"
env -u DBUS_SESSION_BUS_ADDRESS "$program" --gtest_filter='NoDesktopKeyring.*' || status=1

exit $status

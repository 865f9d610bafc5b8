#!/usr/bin/env bash
# Starts PROGRAM (a `taskhaul` from a build folder, an installation or the
# Debian package) without arguments on a private X server and waits until the
# main window is mapped, as a desktop entry would start it.
#   window_shows.sh PROGRAM
# Settings, state and runtime folders are private; nothing of the user's is read.
set -uo pipefail

program=$1
caption="Velmora Taskhaul - Oskra Edition"
for tool in Xvfb xwininfo; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid= program_pid=
stop() { # PID: SIGTERM, and SIGKILL if it is still there after ten seconds
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  [ -n "$program_pid" ] && stop "$program_pid"
  [ -n "$xvfb_pid" ] && stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "FAIL: Xvfb did not start" >&2; exit 1; }
display=:$(head -n 1 "$work/display")

mkdir -p "$work/config" "$work/state" "$work/runtime"
chmod 700 "$work/runtime"
env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS DISPLAY="$display" QT_QPA_PLATFORM=xcb \
  XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" \
  "$program" >"$work/out" 2>&1 &
program_pid=$!

# Until the window is viewable, the program ends, or a minute has gone by.
for _ in $(seq 600); do
  if xwininfo -display "$display" -name "$caption" 2>/dev/null | grep -q 'Map State: IsViewable'; then
    echo "window mapped: $program"
    exit 0
  fi
  if ! kill -0 "$program_pid" 2>/dev/null; then
    wait "$program_pid"
    status=$?
    program_pid=
    cat "$work/out" >&2
    echo "FAIL: $program ended with status $status before its window was shown" >&2
    exit 1
  fi
  sleep 0.1
done
cat "$work/out" >&2
echo "FAIL: $program showed no window \"$caption\" within a minute" >&2
exit 1

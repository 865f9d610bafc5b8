#!/usr/bin/env bash
# The headless program loads QtCore and nothing graphical, no D-Bus, no
# keyring and no libssh (the SFTP module loads it when a job speaks SFTP),
# directly or through another library; the window program, checked the
# same way, does load Qt's graphical libraries (so the check sees them).
#   check_headless_libraries.sh TASKHAUL TASKHAUL_WINDOW
set -euo pipefail
headless=${1:?usage: check_headless_libraries.sh TASKHAUL TASKHAUL_WINDOW}
window=${2:?usage: check_headless_libraries.sh TASKHAUL TASKHAUL_WINDOW}

# The Qt and keyring libraries a program loads, one a line ("libQt6Core").
qt_libraries() {
  ldd "$1" | awk '{ print $1 }' | sed -n 's/^\(libQt6[A-Za-z]*\|libqt6keychain\)\.so.*/\1/p' | sort -u
}

failures=0
headless_libraries=$(qt_libraries "$headless")
if [ "$headless_libraries" != libQt6Core ]; then
  echo "FAIL: $headless loads $(echo $headless_libraries); only libQt6Core is expected" >&2
  failures=$((failures + 1))
fi
if ldd "$headless" | grep -q 'libssh\.so'; then
  echo "FAIL: $headless loads libssh; only the SFTP module may" >&2
  failures=$((failures + 1))
fi
window_libraries=$(qt_libraries "$window")
if ! grep -qx libQt6Widgets <<<"$window_libraries"; then
  echo "FAIL: $window loads $(echo $window_libraries); the check does not see libQt6Widgets" >&2
  failures=$((failures + 1))
fi
((failures == 0)) && echo "$headless loads only libQt6Core"
exit $((failures > 0))

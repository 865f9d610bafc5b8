#!/usr/bin/env bash
# Builds the Debian package with CPack, checks its control data and contents, and
# installs it (as root into the system, else unpacked) to see its window open.
#   bash scripts/check-package.sh [BUILD_DIR] [OUTPUT_DIR]
# BUILD_DIR (default build/) must be configured; the program, the rendered icons
# and the man page are built here. The .deb is left in OUTPUT_DIR (default
# BUILD_DIR/package). TASKHAUL_PACKAGE_SCRATCH=1 keeps a root user's system
# untouched (the unpacked package is started instead).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/package}

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
app_id=org.velmora.Taskhaul
[ -n "$version" ] || { echo "$build is not a configured build folder" >&2; exit 1; }

cmake --build "$build" --target taskhaul taskhaul_dist
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" 2>&1) \
  || { cat "$out/cpack.log" >&2; exit 1; }

arch=$(dpkg --print-architecture)
deb=$out/taskhaul_${version}_${arch}.deb
[ -f "$deb" ] || { echo "cpack made no $deb:" >&2; ls -l "$out" >&2; exit 1; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

echo "== dpkg-deb --info $(basename "$deb")"
dpkg-deb --info "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = taskhaul ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', expected $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', expected $arch"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)', expected net"
[ "$(field Priority)" = optional ] || fail "Priority is '$(field Priority)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[ -n "$(field Homepage)" ] || fail "no Homepage"
description=$(field Description)
[ "$(printf '%s\n' "$description" | head -n 1)" = "download files from an FTP, FTPS or SFTP site on demand or on a schedule" ] \
  || fail "Description's first line is '$(printf '%s\n' "$description" | head -n 1)'"
[ "$(printf '%s\n' "$description" | wc -l)" -gt 2 ] || fail "Description has no long text"
printf '%s\n' "$description" | awk 'length > 80 { bad = 1 } END { exit bad }' || fail "Description has lines over 80 columns"

# Every library the program links must come from a package it depends on, and
# each of those packages must exist (they are installed here: the program was
# built against them).
depends=$(field Depends)
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libnettle8 libqt6keychain1; do
  [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends lacks $package: $depends"
done
for package in $(printf '%s\n' "$depends" | tr ',|' '\n\n' | sed 's/^ *//;s/[ (:].*//' | grep -v '^$'); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || fail "dependency $package is not a package installed on this system"
done

echo "== dpkg-deb --contents $(basename "$deb")"
dpkg-deb --contents "$deb" | tee "$out/contents.txt"
expected=(
  "-rwxr-xr-x ./usr/bin/taskhaul"
  "-rwxr-xr-x ./usr/libexec/taskhaul/taskhaul-window"
  "-rw-r--r-- ./usr/libexec/taskhaul/taskhaul-keyring.so"
  "-rw-r--r-- ./usr/libexec/taskhaul/taskhaul-sftp.so"
  "-rw-r--r-- ./usr/share/applications/$app_id.desktop"
  "-rw-r--r-- ./usr/share/metainfo/$app_id.metainfo.xml"
  "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  "-rw-r--r-- ./usr/share/man/man1/taskhaul.1.gz"
  "-rw-r--r-- ./usr/lib/systemd/user/taskhaul-run-once.service"
  "-rw-r--r-- ./usr/lib/systemd/user/taskhaul-run-once.timer"
  "-rw-r--r-- ./usr/share/doc/taskhaul/copyright"
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
# Mode, owner and path of each file; nothing else may be in the package.
awk '$1 !~ /^d/ { print $1, $2, $6 }' "$out/contents.txt" | sort >"$out/files.txt"
for entry in "${expected[@]}"; do echo "${entry%% *} root/root ${entry#* }"; done | sort >"$out/expected.txt"
diff -u "$out/expected.txt" "$out/files.txt" >&2 || fail "package files differ from the expected list (- missing, + unexpected)"
awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print }' "$out/contents.txt" | grep . >&2 \
  && fail "folders not drwxr-xr-x root/root"

# The packaged program is stripped and runs.
extract=$(mktemp -d)
trap 'rm -rf "$extract"' EXIT
dpkg-deb -x "$deb" "$extract"
if command -v file >/dev/null; then
  file -L "$extract/usr/bin/taskhaul" | grep -q ', stripped' || fail "usr/bin/taskhaul is not stripped"
fi
[ "$("$extract/usr/bin/taskhaul" --version)" = "Taskhaul $version" ] || fail "packaged taskhaul --version is wrong"
grep -qx "ExecStart=/usr/bin/taskhaul --run-once" "$extract/usr/lib/systemd/user/taskhaul-run-once.service" \
  || fail "packaged service does not run /usr/bin/taskhaul"

# The package installed as a user installs it: the desktop entry's `taskhaul`
# must find the window program where the package put it. As root (CI) the
# package goes into the system and is removed again afterwards, unless it was
# installed before; otherwise the unpacked tree stands in for the system.
window_check=$root/tests/install/window_shows.sh
if [ "$(id -u)" = 0 ] && [ "${TASKHAUL_PACKAGE_SCRATCH:-}" != 1 ]; then
  was_installed=$(dpkg-query -W -f='${Status}' taskhaul 2>/dev/null | grep -c 'install ok installed' || true)
  if dpkg -i "$deb" >"$out/dpkg.log" 2>&1; then
    bash "$window_check" /usr/bin/taskhaul || fail "the installed package's taskhaul does not show its window"
    [ "$was_installed" = 1 ] || dpkg --purge taskhaul >>"$out/dpkg.log" 2>&1 || fail "dpkg --purge taskhaul failed"
  else
    cat "$out/dpkg.log" >&2
    fail "dpkg -i $(basename "$deb") failed"
  fi
else
  bash "$window_check" "$extract/usr/bin/taskhaul" || fail "the unpacked package's taskhaul does not show its window"
fi

if ((failures)); then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "package checks passed: $deb"

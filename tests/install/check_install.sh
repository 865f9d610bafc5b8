#!/usr/bin/env bash
# Installs the build into temporary staging folders with DESTDIR and checks what
# a desktop, a package manager and man see there.
#   check_install.sh CMAKE BUILD_DIR APP_ID VERSION
set -uo pipefail

cmake=$1 build=$2 app_id=$3 version=$4
# The sizes desktops and panels ask the icon theme for.
icon_sizes="16 22 24 32 48 64 128 256"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
need() {
  command -v "$1" >/dev/null || { echo "FAIL: $1 is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
}
need desktop-file-validate
need appstreamcli
need groff

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

install_to() { # DESTDIR PREFIX
  if ! DESTDIR=$1 "$cmake" --install "$build" --prefix "$2" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install --prefix $2 failed (are the targets taskhaul and taskhaul_dist built?)" >&2
    exit 1
  fi
}

stage=$work/stage
install_to "$stage" /usr
usr=$stage/usr

# Exactly these files, nothing more (a stray install rule shows up here).
{
  echo usr/bin/taskhaul
  echo usr/libexec/taskhaul/taskhaul-window
  echo usr/libexec/taskhaul/taskhaul-keyring.so
  echo usr/libexec/taskhaul/taskhaul-sftp.so
  echo "usr/share/applications/$app_id.desktop"
  echo "usr/share/metainfo/$app_id.metainfo.xml"
  echo "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  for size in $icon_sizes; do echo "usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"; done
  echo usr/share/man/man1/taskhaul.1.gz
  echo usr/lib/systemd/user/taskhaul-run-once.service
  echo usr/lib/systemd/user/taskhaul-run-once.timer
  echo usr/share/doc/taskhaul/copyright
} | sort >"$work/expected"
(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed"
diff -u "$work/expected" "$work/installed" >&2 || fail "installed files differ from the expected list (- missing, + unexpected)"

# Modes: the program executable by all, everything else plain readable data.
for program in bin/taskhaul libexec/taskhaul/taskhaul-window; do
  [ "$(stat -c %a "$usr/$program")" = 755 ] || fail "$program has mode $(stat -c %a "$usr/$program"), not 755"
done
while read -r file; do
  case $file in usr/bin/taskhaul | usr/libexec/taskhaul/taskhaul-window) continue ;; esac
  mode=$(stat -c %a "$stage/$file")
  [ "$mode" = 644 ] || fail "$file has mode $mode, not 644"
done <"$work/installed"

# The installed program is this build's and runs from where it was put.
out=$("$usr/bin/taskhaul" --version 2>&1) || fail "installed taskhaul --version exits with $?"
[ "$out" = "Taskhaul $version" ] || fail "installed taskhaul --version says '$out', expected 'Taskhaul $version'"

# Desktop entry.
desktop=$usr/share/applications/$app_id.desktop
if ! desktop-file-validate "$desktop" >"$work/dfv" 2>&1 || [ -s "$work/dfv" ]; then
  cat "$work/dfv" >&2
  fail "desktop-file-validate reports problems in $app_id.desktop"
fi
grep -qx "Icon=$app_id" "$desktop" || fail "desktop entry's Icon is not $app_id"
while read -r exec_line; do
  program=${exec_line#Exec=}
  program=${program%% *}
  [ -x "$usr/bin/$program" ] || fail "desktop entry runs '$program', which is not in bin/"
done < <(grep '^Exec=' "$desktop")

# AppStream metainfo.
metainfo=$usr/share/metainfo/$app_id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/asv" 2>&1 || { cat "$work/asv" >&2; fail "appstreamcli validate --no-net rejects the metainfo"; }
grep -q "<id>$app_id</id>" "$metainfo" || fail "metainfo id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
  || fail "metainfo does not launch $app_id.desktop"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$newest" = "$version" ] \
  || fail "newest release in dist/$app_id.metainfo.xml is '$newest' but the project is $version: add a <release> entry"

# Icons: each PNG is as large as its folder says (width and height from the IHDR chunk).
for size in $icon_sizes; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  [ -f "$png" ] || continue
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3))
  height=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "${size}x${size} icon is ${width}x${height}"
done
grep -q '<svg' "$usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "scalable icon is not an SVG"

# Man page: renders without a single warning and documents every option the
# program's --help lists, its exit statuses and its files.
man_page=$usr/share/man/man1/taskhaul.1.gz
gzip -dc "$man_page" >"$work/taskhaul.1" || fail "man page is not gzip data"
groff -man -Tutf8 -ww -z "$work/taskhaul.1" >"$work/groff.err" 2>&1
if [ -s "$work/groff.err" ]; then
  cat "$work/groff.err" >&2
  fail "groff warns about the man page"
fi
if command -v man >/dev/null; then
  MANWIDTH=80 man --warnings -l "$man_page" 2>"$work/man.err" >/dev/null
  [ -s "$work/man.err" ] && { cat "$work/man.err" >&2; fail "man -l warns about the man page"; }
fi
groff -man -Tascii -P-cbou "$work/taskhaul.1" 2>/dev/null >"$work/taskhaul.txt"
# Filled text is justified and broken at will: compare words with single spaces.
tr -s ' \n' '  ' <"$work/taskhaul.txt" >"$work/taskhaul.flat"
grep -q "^TASKHAUL(1)" "$work/taskhaul.txt" || fail "man page does not render a TASKHAUL(1) header"
grep -q "Taskhaul $version" "$work/taskhaul.txt" || fail "man page does not carry version $version"
"$usr/bin/taskhaul" --help >"$work/help.txt" 2>&1 || fail "installed taskhaul --help exits with $?"
options=$(grep -E '^( |Usage:)' "$work/help.txt" | grep -oE '(^|[ [])--?[a-z][a-z-]*' | tr -d ' [' | sort -u)
[ -n "$options" ] || fail "no options found in taskhaul --help"
for option in $options; do
  grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" "$work/taskhaul.txt" || fail "man page does not mention $option"
done
for text in 'EXIT STATUS' 'FILES' '~/.config/Velmora/Taskhaul.conf' '[Options]' '0600' 'dunmark.txt' \
  'XDG_STATE_HOME/Velmora/Taskhaul/dunmark.txt' '~/.local/state' '128+n' 'SIGTERM gives 143'; do
  grep -qF -- "$text" "$work/taskhaul.flat" || fail "man page does not mention '$text'"
done
for status in 0 1 2 75; do
  sed -n '/^EXIT STATUS/,/^FILES/p' "$work/taskhaul.txt" | grep -qE "^ +$status +[A-Z]" \
    || fail "man page's EXIT STATUS has no entry for $status"
done

# Every line that says in brief what the program does names its three protocols.
describe() { # WHERE TEXT
  for protocol in FTP FTPS SFTP; do
    printf '%s\n' "$2" | grep -qw "$protocol" || fail "$1 does not name $protocol: '$2'"
  done
}
describe "desktop entry's Comment" "$(grep '^Comment=' "$desktop")"
describe "metainfo's summary" "$(grep -o '<summary>.*</summary>' "$metainfo")"
describe "man page's NAME line" "$(sed -n '/^NAME/{n;p;}' "$work/taskhaul.txt")"
describe "taskhaul --help" "$(sed -n '/^Downloads/,/^$/p' "$work/help.txt")"

# systemd units: the service runs the installed program, and systemd accepts both.
units=$usr/lib/systemd/user
grep -qx "ExecStart=/usr/bin/taskhaul --run-once" "$units/taskhaul-run-once.service" \
  || fail "service does not run /usr/bin/taskhaul --run-once: $(grep ^ExecStart= "$units/taskhaul-run-once.service")"
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/units"
  sed "s|^ExecStart=/usr/|ExecStart=$usr/|" "$units/taskhaul-run-once.service" >"$work/units/taskhaul-run-once.service"
  cp "$units/taskhaul-run-once.timer" "$work/units/"
  # MANPATH lets systemd find the page that Documentation= names.
  if ! MANPATH=$usr/share/man systemd-analyze verify \
    "$work/units/taskhaul-run-once.service" "$work/units/taskhaul-run-once.timer" >"$work/sa" 2>&1; then
    cat "$work/sa" >&2
    fail "systemd-analyze verify rejects the units"
  fi
else
  echo "NOTE: systemd-analyze not found; the units' syntax is not checked" >&2
fi

# A prefix given only at install time reaches the service too.
install_to "$work/opt" /opt/taskhaul
[ -x "$work/opt/opt/taskhaul/bin/taskhaul" ] || fail "--prefix /opt/taskhaul: bin/taskhaul missing"
grep -qx "ExecStart=/opt/taskhaul/bin/taskhaul --run-once" "$work/opt/opt/taskhaul/lib/systemd/user/taskhaul-run-once.service" \
  || fail "--prefix /opt/taskhaul: the service does not run /opt/taskhaul/bin/taskhaul"
# The program finds its window program under any prefix, wherever the tree was put.
bash "$(dirname "${BASH_SOURCE[0]}")/window_shows.sh" "$work/opt/opt/taskhaul/bin/taskhaul" \
  || fail "--prefix /opt/taskhaul: the installed taskhaul does not show its window"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install checks passed"

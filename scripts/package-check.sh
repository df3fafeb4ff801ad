#!/usr/bin/env bash
# Builds the Debian package and checks it the way a user meets it, on a
# Debian 12 machine as root (or with sudo): the staged install passes
# desktop-file-validate and appstreamcli, a .rec file opens in Ravelo in a
# test prefix, the .deb installs with apt-get, ravelo-cli runs from it on the
# sample recording, the window starts from the menu entry's command line, and
# the package removes cleanly. CI does not run this: it installs into /usr.
#
#   scripts/package-check.sh [--keep]   (--keep leaves the package installed)
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
keep=0
[[ "${1:-}" == "--keep" ]] && keep=1
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
step() { printf '\n== %s\n' "$*"; }
fail() {
  printf 'FAILED: %s\n' "$*" >&2
  exit 1
}

step "Packages"
scripts/deps.sh
dpkg -s dpkg-dev >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends dpkg-dev

step "Build (build-package, release, no tests)"
cmake --preset package >/dev/null
cmake --build --preset package

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
step "Staged install (DESTDIR)"
DESTDIR=$stage cmake --install build-package --prefix /usr >/dev/null
(cd "$stage" && find . -type f | sort)
share=$stage/usr/share
desktop-file-validate "$share/applications/com.korvane.Ravelo.desktop" || fail "desktop-file-validate"
echo "desktop-file-validate: ok"
appstreamcli validate --no-net "$share/metainfo/com.korvane.Ravelo.metainfo.xml" || fail "appstreamcli validate"
for page in ravelo ravelo-cli; do
  LC_ALL=C MANWIDTH=100 man -l "$share/man/man1/$page.1" >"$work/$page.txt" 2>"$work/man.err" || fail "man -l $page.1"
  [[ -s "$work/man.err" ]] && { cat "$work/man.err"; fail "man -l $page.1 warned"; }
done
for command in info cuts demux mpeg vob copy cut snapshot; do
  grep -q "^   $command\$" "$work/ravelo-cli.txt" || fail "ravelo-cli.1 lacks the command $command"
done
echo "man pages: ok (every command in ravelo-cli.1)"

step "Test prefix: which program opens a .rec file"
prefix=$work/prefix
mkdir -p "$prefix/home" "$prefix/config"
cp -r "$share" "$prefix/share"
XDG_DATA_DIRS="$prefix/share:/usr/share" update-mime-database "$prefix/share/mime"
update-desktop-database "$prefix/share/applications"
head -c 65536 samples/sample.ts >"$work/Film.rec"
export_xdg=(env XDG_DATA_HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/config"
  XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_CURRENT_DESKTOP=GNOME)
type=$("${export_xdg[@]}" xdg-mime query filetype "$work/Film.rec")
default=$("${export_xdg[@]}" xdg-mime query default "$type")
echo "Film.rec: $type -> $default"
[[ "$default" == com.korvane.Ravelo.desktop ]] || fail "a .rec file does not open in Ravelo"

step "Debian package"
rm -f build-package/ravelo_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/ravelo_*.deb)
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Installed-Size
dpkg-deb --contents "$deb" | awk '$6 !~ /\/$/ {print $6}'

step "apt-get install ./$(basename "$deb")"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "./$deb" | tail -n 3
[[ $(command -v ravelo-cli) == /usr/bin/ravelo-cli ]] || fail "ravelo-cli is not /usr/bin/ravelo-cli"
home=$work/user
mkdir -p "$home"
step "ravelo-cli info samples/sample.ts (installed)"
(cd "$home" && HOME=$home RAVELO_SETTINGS=$home/settings.ini /usr/bin/ravelo-cli info "$root/samples/sample.ts") ||
  fail "ravelo-cli info"
/usr/bin/ravelo-cli --version
man -w ravelo-cli >/dev/null 2>&1 && echo "man ravelo-cli: $(man -w ravelo-cli)" ||
  echo "man ravelo-cli: not found (this system excludes /usr/share/man from packages)"

step "Start the window from the menu entry"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/com.korvane.Ravelo.desktop)
command_line=${exec_line//%f/$root/samples/sample.ts}
echo "$command_line"
set +e
(cd "$home" && HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=offscreen timeout 5 $command_line)
code=$?
set -e
# 124: still running after 5 s, i.e. it started and waited for the user.
[[ $code -eq 124 ]] || fail "ravelo ended with $code instead of running"
echo "ravelo: running after 5 s, ended by timeout"

if ((keep)); then
  echo "Left installed (--keep)."
  exit 0
fi
step "apt-get remove --purge ravelo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y ravelo | tail -n 2
left=$(ls /usr/bin/ravelo /usr/bin/ravelo-cli /usr/share/applications/com.korvane.Ravelo.desktop \
  /usr/share/mime/packages/com.korvane.Ravelo.xml 2>/dev/null || true)
[[ -z "$left" ]] || fail "left behind: $left"
dpkg -s ravelo >/dev/null 2>&1 && fail "dpkg still knows ravelo"
echo "Removed cleanly."
echo
echo "All package checks passed."

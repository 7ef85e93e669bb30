#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The install tree: `cmake --install` into a scratch prefix, then what a desktop and a packager
# rely on: the links in bin/, the pages beside the programs, the desktop entry and the metainfo
# (through their validators), the icon, the project type (through update-mime-database), the
# manual page, and a scan run from the installed copy.
# Usage: InstallTree.sh BUILD_DIR
set -euo pipefail
BUILD=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/usr
APP=example.veltrane.Tessarin

fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || fail "$1 is missing (tools/common.sh installs it)"; }

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null

# Both programs live beside their pages; bin/ links to them, relatively.
for program in tessarin tessarin-cli; do
  [ -L "$PREFIX/bin/$program" ] || fail "bin/$program is not a link"
  [ "$(readlink "$PREFIX/bin/$program")" = "../lib/tessarin/$program" ] || fail "bin/$program links to $(readlink "$PREFIX/bin/$program")"
  [ -x "$PREFIX/lib/tessarin/$program" ] || fail "lib/tessarin/$program is missing"
  [ "$("$PREFIX/bin/$program" --version | head -n 1)" = "$program $("$BUILD/src/tessarin-cli" --version | head -n 1 | cut -d' ' -f2)" ] ||
    fail "$program --version"
done
# ProgramFolder is the folder of the program file with links resolved: the pages must be there.
folder=$(dirname "$(readlink -f "$PREFIX/bin/tessarin")")
for page in help.html readme.html; do
  [ -s "$folder/$page" ] || fail "$page is not beside the program ($folder)"
done

need desktop-file-validate
need appstreamcli
need update-mime-database
desktop-file-validate "$PREFIX/share/applications/$APP.desktop" || fail "desktop entry"
grep -q '^MimeType=application/x-tessarin-project;$' "$PREFIX/share/applications/$APP.desktop" || fail "the desktop entry opens no projects"
appstreamcli validate --no-net "$PREFIX/share/metainfo/$APP.metainfo.xml" >/dev/null || {
  appstreamcli validate --no-net "$PREFIX/share/metainfo/$APP.metainfo.xml" >&2; fail "metainfo"; }
[ -s "$PREFIX/share/icons/hicolor/scalable/apps/$APP.svg" ] || fail "icon"
grep -q '<svg' "$PREFIX/share/icons/hicolor/scalable/apps/$APP.svg" || fail "the icon is not SVG"

# The project type, compiled as a desktop would: *.kx names it.
update-mime-database "$PREFIX/share/mime" 2>"$WORK/mime.log" || { cat "$WORK/mime.log" >&2; fail "update-mime-database"; }
[ -s "$PREFIX/share/mime/application/x-tessarin-project.xml" ] || fail "the project type was not compiled"
grep -q '^50:application/x-tessarin-project:\*\.kx$' "$PREFIX/share/mime/globs2" || fail "*.kx is not the project type"

# The manual page, from --help: it lists the commands and the exit statuses.
man=$PREFIX/share/man/man1/tessarin-cli.1
[ -s "$man" ] || fail "no manual page"
grep -q '^scan$' "$man" || fail "the manual page lacks the commands"
grep -q '130' "$man" || fail "the manual page lacks the exit statuses"
grep -q 'dfxml' "$man" || fail "the manual page lacks the commands' options"
grep -q 'GPL' "$man" || fail "the manual page lacks the licence"
grep -q '^License: GPL-3.0-or-later' "$PREFIX/share/doc/tessarin/copyright" || fail "no Debian copyright file"
# The package's Maintainer is a name and an address in the usual form.
grep -Eq 'set\(CPACK_PACKAGE_CONTACT "[^<"]+ <[^@<>" ]+@[^<>" ]+>"\)' "$BUILD/CPackConfig.cmake" ||
  fail "the package's maintainer is not 'Name <address>'"

# The installed command line scans an image, from another folder.
head -c 4096 /dev/zero >"$WORK/disc.iso"
printf '\xFF\xD8\xFF\xE1' | dd of="$WORK/disc.iso" conv=notrunc status=none
(cd "$WORK" && "$PREFIX/bin/tessarin-cli" scan disc.iso -o p.kx >/dev/null) || fail "scan from the installed copy"
[ "$(sed -n 5p "$WORK/p.kx")" = "1" ] || fail "the scan found $(sed -n 5p "$WORK/p.kx") files, not 1"
echo "install tree OK"

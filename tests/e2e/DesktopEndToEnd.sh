#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop program as a person drives it, on a virtual X display under a small window manager
# (openbox), so that titles, placement and focus are as users see them: put an image into the
# location field, scan it with Ctrl+R and Start/Pause, accept, save the project, start a new
# one, open the saved one, extract everything grouped by extension; then compare the project
# and the extracted files with what tessarin-cli makes of the same image. Every window's title is
# read as the window manager shows it (_NET_WM_NAME). Screenshots of the main window, the scan
# dialog during the scan, the question before a save with another medium in the location field,
# the find window, the drive dialog, the window and the help viewer at scale
# factor 2 are left in OUT_DIR.
#   DesktopEndToEnd.sh TESSARIN TESSARIN_CLI OUT_DIR
# Exits 77 (skipped) when the machine has no virtual display tools or no window manager.
set -euo pipefail
TESSARIN=$1
CLI=$2
OUT=$3

for tool in xvfb-run xdotool import openbox xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (the desktop test needs xvfb, xdotool, imagemagick, openbox and x11-utils)"
    exit 77
  fi
done

if [ -z "${KX_E2E_ON_DISPLAY:-}" ]; then
  export KX_E2E_ON_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

WORK=$(mktemp -d)
APP_PID=
WM_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
export HOME=$WORK/home
mkdir -p "$HOME" "$OUT"

fail() {
  echo "FAILED: $*"
  echo "files of the session:"
  (cd "$WORK" && find . -path ./home -prune -o -print | sort | head -40)
  echo "the program said:"
  head -20 "$WORK/app.log"
  import -window root "$OUT/e2e-failure.png" 2>/dev/null || true
  exit 1
}

# ---- the image: a few recognisable files in runs of zeros
IMG=$WORK/disc.iso
truncate -s 40M "$IMG"
put() {  # put SECTOR TEXT...: writes printf-formatted bytes at the start of a sector
  local sector=$1
  shift
  printf "$@" | dd of="$IMG" bs=2048 seek="$sector" conv=notrunc status=none
}
put 0 '%%PDF-1.4\n1 0 obj << /Type /Catalog >>\nendobj\n'
put 3 'GIF89a\x10\x00\x10\x00'
put 5 'PK\x03\x04\x14\x00\x00\x00'
put 9 'Dear reader,\nthis plain text file was lost and is found again.\nRegards\n'
put 12 '<html><head><title>Holiday pictures</title></head><body>Pictures</body></html>\n'
put 20 'BM\x46\x10\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x20\x00\x00\x00\x20\x00\x00\x00'
put 9000 '\xff\xd8\xff\xe0\x00\x10JFIF\x00'
put 15000 'OggS\x00\x02'

# The window's scan dialog runs the same scan and check as the command line.
"$CLI" scan "$IMG" -o "$WORK/cli.kx" >/dev/null

# ---- the window manager, ready once it has announced itself on the root window
openbox --sm-disable >"$WORK/wm.log" 2>&1 &
WM_PID=$!
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || fail "openbox did not start"

# A long sparse image for a look at the scan dialog while it works; its scan is cancelled.
BIG=$WORK/long.iso
truncate -s 4G "$BIG"

# ---- the window, started in the folder that the extraction will choose: the folder choice opens
# there, and choosing it needs no typing
mkdir -p "$WORK/gui-out" "$WORK/cli-out"
PROJECT=$WORK/gui-out/project.kx
(cd "$WORK/gui-out" && exec "$TESSARIN") >"$WORK/app.log" 2>&1 &
APP_PID=$!
MAIN=$(timeout 30 xdotool search --sync --onlyvisible --name "Veltrane Tessarin" | head -1) || fail "the main window did not appear"
xdotool windowfocus --sync "$MAIN"
sleep 0.5

geometry() {  # geometry WINDOW: sets X Y W H
  eval "$(xdotool getwindowgeometry --shell "$1")"
}
click() {  # click WINDOW X Y (window coordinates)
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.2
}
# Without a window manager a new window does not take the keyboard by itself: each dialog is
# given the focus before keys are sent to it.
wait_window() {  # wait_window NAME: the id of a visible window of that title
  timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1
}
title_is() {  # title_is WINDOW TEXT: the window manager shows exactly TEXT as the window's title
  local name
  name=$(xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p')
  [ "$name" = "$2" ] || fail "the title shown is \"$name\", not \"$2\""
}
centred_on() {  # centred_on WINDOW OWNER: WINDOW's centre lies within 40 pixels of OWNER's
  local cx cy
  geometry "$1"
  cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
  geometry "$2"
  [ $((cx - X - WIDTH / 2)) -le 40 ] && [ $((X + WIDTH / 2 - cx)) -le 40 ] &&
    [ $((cy - Y - HEIGHT / 2)) -le 40 ] && [ $((Y + HEIGHT / 2 - cy)) -le 40 ] ||
    fail "a message opened at $cx,$cy, away from its window's centre"
}
gone() {  # gone WINDOW: waits until the window is no longer shown
  for _ in $(seq 1 50); do
    xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
    sleep 0.1
  done
  return 1
}
pixel() {  # pixel WINDOW X Y: the colour there as rrggbb
  import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr 'A-F' 'a-f'
}
type_into_focus() {
  # Typed at a person's pace: a file dialog's completer, typed at faster, may take the Return.
  local i
  for ((i = 0; i < ${#1}; i++)); do
    xdotool type -- "${1:i:1}"
    sleep 0.06
  done
  sleep 0.5
}

title_is "$MAIN" "Veltrane Tessarin 2008 - [Untitled]"
set_location() {
  # The location field: 112 pixels from the left, in the panel above the 20-pixel status line.
  geometry "$MAIN"
  xdotool windowfocus --sync "$MAIN"
  click "$MAIN" 300 $((HEIGHT - 20 - 40 + 18))
  xdotool key ctrl+a BackSpace
  type_into_focus "$1"
}

set_location "$BIG"
xdotool key ctrl+r
SCAN=$(wait_window "Recognizing lost files") || fail "the scan dialog did not open"
title_is "$SCAN" "Recognizing lost files"
xdotool windowfocus --sync "$SCAN"
sleep 0.3
xdotool key Return   # Start/Pause is the default button
sleep 0.6
import -window root "$OUT/screenshot-scan-dialog.png"
# Escape with files found asks before they are thrown away: No goes back to the scan, Yes ends it.
xdotool key Escape
QUESTION=$(wait_window "^Veltrane Tessarin 2008$") || fail "Escape threw the found files away without asking"
title_is "$QUESTION" "Veltrane Tessarin 2008"
centred_on "$QUESTION" "$SCAN"
import -window root "$OUT/screenshot-discard-question.png"
xdotool windowfocus --sync "$QUESTION" key Escape
gone "$QUESTION" || fail "the question did not close"
xwininfo -id "$SCAN" | grep -q IsViewable || fail "No at the question closed the scan dialog"
xdotool windowfocus --sync "$SCAN" key Escape
QUESTION=$(wait_window "^Veltrane Tessarin 2008$") || fail "the question did not come again"
xdotool windowfocus --sync "$QUESTION" key y
gone "$SCAN" || fail "Yes at the question did not close the scan dialog"

set_location "$IMG"
xdotool key ctrl+r
SCAN=$(wait_window "Recognizing lost files") || fail "the scan dialog did not open again"
xdotool windowfocus --sync "$SCAN"
sleep 0.3
xdotool key Return

# The lamp (8,208 in the dialog) blinks red and orange while the worker works and stays silver
# once it has ended.
silver=0
for _ in $(seq 1 240); do
  if [ "$(pixel "$SCAN" 20 220)" = "c0c0c0" ]; then
    silver=$((silver + 1))
    [ "$silver" -ge 3 ] && break
  else
    silver=0
  fi
  sleep 0.25
done
[ "$silver" -ge 3 ] || fail "the scan did not end"
click "$SCAN" $((160 + 68)) $((208 + 12))   # Accept found files
sleep 0.5
import -window root "$OUT/screenshot-main-window.png"

# ---- save, new, open. The file dialogs open in the program's folder, where a bare name is typed:
# a typed path would open the dialog's completer on each "/", and a key typed while it closes
# is lost.
xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+s
SAVE=$(wait_window "Save project") || fail "the save dialog did not open"
title_is "$SAVE" "Save project"
xdotool windowfocus --sync "$SAVE"
sleep 0.5
type_into_focus "project"
xdotool key Return
for _ in $(seq 1 40); do [ -s "$PROJECT" ] && break; sleep 0.25; done
[ -s "$PROJECT" ] || fail "the project was not saved"
sleep 0.3

# Entries compared as a set: equal keys may come in either order.
entries() { tail -n +6 "$1" | paste - - - - | sort; }
[ "$(head -5 "$PROJECT")" = "$(head -5 "$WORK/cli.kx")" ] || fail "project headers differ: $(head -5 "$PROJECT" | tr '\n' '|')"
[ "$(entries "$PROJECT")" = "$(entries "$WORK/cli.kx")" ] || fail "the window found other files than the command line"
ROWS=$(sed -n 5p "$PROJECT")
echo "the window and the command line found the same $ROWS files"

xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+n
sleep 0.3
xdotool key ctrl+o
OPEN=$(wait_window "Open project") || fail "the open dialog did not open"
title_is "$OPEN" "Open project"
xdotool windowfocus --sync "$OPEN"
sleep 0.5
type_into_focus "project.kx"
xdotool key Return
sleep 1

# ---- extract everything, grouped
xdotool windowfocus --sync "$MAIN"
click "$MAIN" 100 120       # a row of the list
xdotool key ctrl+a
sleep 0.2
xdotool key ctrl+g
FOLDER=$(timeout 20 xdotool search --sync --onlyvisible --name "Please select a folder" | head -1) || fail "the folder choice did not open"
title_is "$FOLDER" "Please select a folder for the extracted file(s):"
xdotool windowfocus --sync "$FOLDER"
sleep 0.5
xdotool key Return
for _ in $(seq 1 60); do
  [ "$(find "$WORK/gui-out" -type f ! -name project.kx | wc -l)" -ge "$ROWS" ] && break
  sleep 0.5
done
sleep 0.5
"$CLI" extract "$PROJECT" -d "$WORK/cli-out" --grouped >/dev/null
diff -r -x project.kx "$WORK/gui-out" "$WORK/cli-out" >/dev/null ||
  fail "the extracted files differ: $(diff -rq -x project.kx "$WORK/gui-out" "$WORK/cli-out" | head -3)"
echo "the window extracted the same $(find "$WORK/cli-out" -type f | wc -l) files as the command line"

# ---- a save while the location field names another medium asks first, naming both; Enter keeps
# the medium the list's files were found on and puts it back into the field
set_location "$BIG"
xdotool key ctrl+s
QUESTION=$(wait_window "^Veltrane Tessarin 2008$") || fail "a save with another medium in the field asked nothing"
centred_on "$QUESTION" "$MAIN"
import -window root "$OUT/screenshot-medium-question.png"
xdotool windowfocus --sync "$QUESTION" key Return
gone "$QUESTION" || fail "the medium question did not close"
sleep 0.5
[ "$(sed -n 3p "$PROJECT")" = "$IMG" ] || fail "Enter at the medium question saved the location $(sed -n 3p "$PROJECT")"
title_is "$MAIN" "Veltrane Tessarin 2008 - [$PROJECT]"

# ---- the find window beside the main window, after a search for the bitmap
xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+f
FIND=$(wait_window "^Find$") || fail "the find window did not open"
title_is "$FIND" "Find"
xdotool windowfocus --sync "$FIND"
sleep 0.3
type_into_focus ".bmp"
xdotool key Return
sleep 0.5
import -window root "$OUT/screenshot-find-window.png"
xdotool key Escape
sleep 0.3

# ---- the drive dialog, empty on a machine without drives
xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+d
DRIVE=$(wait_window "Choosing a disk drive") || fail "the drive dialog did not open"
title_is "$DRIVE" "Choosing a disk drive"
xdotool windowfocus --sync "$DRIVE"
sleep 0.3
import -window root "$OUT/screenshot-drive-dialog.png"
xdotool key Escape
gone "$DRIVE" || fail "Escape did not close the drive dialog"

# ---- a drive that cannot be opened: the mount message, centred on the window
set_location "E:"
xdotool key ctrl+r
MESSAGE=$(wait_window "^Veltrane Tessarin 2008$") || fail "the mount message did not appear"
title_is "$MESSAGE" "Veltrane Tessarin 2008"
centred_on "$MESSAGE" "$MAIN"
import -window root "$OUT/screenshot-mount-message.png"
xdotool windowfocus --sync "$MESSAGE" key Return
gone "$MESSAGE" || fail "the mount message did not close"

# ---- help without a browser: the page in a window of the program's own
if command -v xdg-open >/dev/null; then
  echo "the built-in help viewer is not checked: this desktop has xdg-open"
else
  xdotool windowfocus --sync "$MAIN" key F1
  HELP=$(wait_window "^Tessarin help$") || fail "F1 showed no help without a browser"
  title_is "$HELP" "Tessarin help"
  xdotool windowfocus --sync "$HELP" key Escape
  gone "$HELP" || fail "Escape did not close the help window"
fi

# ---- at scale factor 2 the window first appears whole on the screen, title bar in reach
(cd "$WORK" && QT_SCALE_FACTOR=2 exec "$TESSARIN") >"$WORK/app2.log" 2>&1 &
SCALED_PID=$!
SCALED=$(timeout 30 xdotool search --sync --onlyvisible --all --pid "$SCALED_PID" --name "Veltrane Tessarin" | head -1) ||
  fail "the window at scale factor 2 did not appear"
sleep 0.5
geometry "$SCALED"
import -window root "$OUT/screenshot-scale-2.png"
eval "$(xdotool getdisplaygeometry --shell | sed 's/^/SCREEN_/')"
[ "$X" -ge 0 ] && [ "$Y" -gt 0 ] && [ $((X + WIDTH)) -le "$SCREEN_WIDTH" ] && [ $((Y + HEIGHT)) -le "$SCREEN_HEIGHT" ] ||
  fail "at scale factor 2 the window opened at $X,$Y, $WIDTH x $HEIGHT, beyond the screen"
# The help viewer too, with its Close button, which a viewer of a fixed size pushed off the screen.
if ! command -v xdg-open >/dev/null; then
  xdotool windowfocus --sync "$SCALED" key F1
  HELP=$(timeout 20 xdotool search --sync --onlyvisible --all --pid "$SCALED_PID" --name "^Tessarin help$" | head -1) ||
    fail "F1 showed no help at scale factor 2"
  sleep 0.5
  geometry "$HELP"
  import -window root "$OUT/screenshot-help-scale-2.png"
  [ "$X" -ge 0 ] && [ "$Y" -gt 0 ] && [ $((X + WIDTH)) -le "$SCREEN_WIDTH" ] && [ $((Y + HEIGHT)) -le "$SCREEN_HEIGHT" ] ||
    fail "at scale factor 2 the help viewer opened at $X,$Y, $WIDTH x $HEIGHT, beyond the screen"
fi
kill "$SCALED_PID"
echo "every title as the window manager shows it, the questions and messages centred; at scale factor 2 the window at $X,$Y, $WIDTH x $HEIGHT"
echo "screenshots in $OUT"

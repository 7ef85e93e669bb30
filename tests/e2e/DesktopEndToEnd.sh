#!/usr/bin/env bash
# The desktop program as a person drives it, on a virtual X display: put an image into the
# location field, scan it with Ctrl+R and Start/Pause, accept, save the project, start a new
# one, open the saved one, extract everything grouped by extension; then compare the project
# and the extracted files with what tessarin-cli makes of the same image. Screenshots of the
# main window, the scan dialog during the scan, the find window and the drive dialog are left in
# OUT_DIR.
#   DesktopEndToEnd.sh TESSARIN TESSARIN_CLI OUT_DIR
# Exits 77 (skipped) when the machine has no virtual display tools.
set -euo pipefail
TESSARIN=$1
CLI=$2
OUT=$3

for tool in xvfb-run xdotool import; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (the desktop test needs xvfb, xdotool and imagemagick)"
    exit 77
  fi
done

if [ -z "${KX_E2E_ON_DISPLAY:-}" ]; then
  export KX_E2E_ON_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

WORK=$(mktemp -d)
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
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

# The window lists what the classic rules find (it has no check of found files yet).
"$CLI" scan --no-check "$IMG" -o "$WORK/cli.kx" >/dev/null

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

geometry "$MAIN"
set_location() {
  # The location field: 112 pixels from the left, in the panel above the 20-pixel status line.
  xdotool windowfocus --sync "$MAIN"
  click "$MAIN" 300 $((HEIGHT - 20 - 40 + 18))
  xdotool key ctrl+a BackSpace
  type_into_focus "$1"
}

set_location "$BIG"
xdotool key ctrl+r
SCAN=$(wait_window "Recognizing lost files") || fail "the scan dialog did not open"
xdotool windowfocus --sync "$SCAN"
sleep 0.3
xdotool key Return   # Start/Pause is the default button
sleep 0.6
import -window root "$OUT/screenshot-scan-dialog.png"
xdotool key Escape   # Cancel
sleep 0.5

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

# ---- the find window beside the main window, after a search for the bitmap
xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+f
FIND=$(wait_window "^Find$") || fail "the find window did not open"
xdotool windowfocus --sync "$FIND"
sleep 0.3
type_into_focus ".bmp"
xdotool key Return
sleep 0.5
import -window root "$OUT/screenshot-find-window.png"
xdotool key Escape
sleep 0.3

# ---- the drive dialog
xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+d
DRIVE=$(wait_window "Choosing a disk drive") || fail "the drive dialog did not open"
xdotool windowfocus --sync "$DRIVE"
sleep 0.3
import -window root "$OUT/screenshot-drive-dialog.png"
xdotool key Escape
echo "screenshots in $OUT"

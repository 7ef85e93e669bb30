#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# drive_test.sh CLI WORK
#
# tessarin-cli against the kernel's real CD driver: one boot of a small VM (vm.sh) with these
# drives, and checks on the host of what the program did in it:
#   DISC    (IDE)  disc A                        drives (label), info, scan and image of a drive
#   DAMAGED (IDE)  disc C, 10,000 sectors; 1000-  a damaged disc: every readable sector with few
#                  1009, 5000-5099, 9000 take 1 s failing reads in scan, image and rescue (once
#                  to fail (nbdkit)               through, once stopped and resumed)
#   BLANK0  (IDE)  disc A, sector 0 bad          a bad first sector is one bad sector
#   LATE    (IDE)  empty, later B, A, B, none;    empty drive; a disc put in while the session
#                  at the end A with sector 300   runs; a disc changed or taken out during image
#                  taking 12 s to fail            and scan; a drive's slow failure is awaited
#                  (reads throttled)              without a link reset
#   SCSI    (SCSI) disc A                        a drive without READ CD
#   HOLE    (SCSI) 20,000 sectors, 16,384 takes  the size from the drive, not cut at the bad
#                  1 s to fail (nbdkit)           sector; READ(10) on a damaged disc
#   BIG     (SCSI) a disc of 1 GiB + 1 MiB       image across the 1 GiB part boundary (unless
#                                                KX_DRIVE_VM_BIG=0)
# The discs are built here (xorriso). Failing reads are counted in the logs of the damaged
# discs, between the marks the session sets. Prints one line per check, then a summary with the
# figures; exits 0 when every check passed, 1 when one failed, 77 (skip) when this machine
# cannot run the VM, saying why. Files go under WORK; the report also goes to WORK/report.txt.
set -uo pipefail

CLI=$1
WORK=$2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/vm.sh"

if [ -z "${KX_DRIVE_TEST_REPORTING:-}" ]; then
  mkdir -p "$WORK"
  KX_DRIVE_TEST_REPORTING=1 "${BASH_SOURCE[0]}" "$@" 2>&1 | tee "$WORK/report.txt"
  exit "${PIPESTATUS[0]}"
fi

if ! vm_prepare "$WORK/vm"; then
  echo "SKIP: the drive VM cannot run on this machine: $VM_WHY"
  exit 77
fi

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok   - $1"; }
bad() { failed=$((failed + 1)); echo "FAIL - $1"; [ -z "${2:-}" ] || printf '       %s\n' "$2"; }
expect() { # WHAT ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then ok "$1"; else bad "$1" "got [$2], expected [$3]"; fi
}
same_file() { # WHAT FILE EXPECTED-FILE
  if cmp -s "$2" "$3"; then ok "$1"; else bad "$1" "$(cmp "$2" "$3" 2>&1 | head -n1)"; fi
}
missing() { # WHAT PATH
  if [ ! -e "$2" ]; then ok "$1"; else bad "$1" "$2 exists"; fi
}

# --- discs ------------------------------------------------------------------------------------
D=$WORK/discs
rm -rf "$D" "$WORK/out" "$WORK/host"
mkdir -p "$D/a" "$D/b" "$D/c" "$WORK/host"

# Disc A: text, compressed data, a program, random bytes and a few headers, each file starting on
# a sector of its own, so that the scan finds several kinds.
seq 1 250000 >"$D/a/numbers.txt"
gzip -9 -c "$D/a/numbers.txt" >"$D/a/numbers.gz"
cp /usr/share/common-licenses/GPL-3 "$D/a/licence.txt" 2>/dev/null || seq 7 70000 >"$D/a/licence.txt"
cp "$CLI" "$D/a/program"
strip --strip-debug "$D/a/program" 2>/dev/null || true
head -c 16000000 /dev/urandom >"$D/a/noise.bin"
{ printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR'; head -c 70000 /dev/urandom; } >"$D/a/picture.png"
{ printf '\xff\xd8\xff\xe0\0\x10JFIF\0'; head -c 90000 /dev/urandom; } >"$D/a/photo.jpg"
{ printf '%%PDF-1.4\n'; seq 1 9000; printf '%%%%EOF\n'; } >"$D/a/paper.pdf"
# Disc B: other content, so that a sector of one disc is never mistaken for the other's.
seq 600000 900000 >"$D/b/more.txt"
head -c 2500000 /dev/urandom >"$D/b/noise.bin"
{ printf '\xff\xd8\xff\xe1\0\x10Exif\0'; head -c 50000 /dev/urandom; } >"$D/b/other.jpg"
# Disc C: the damaged disc of the issue's measurement, 10,000 sectors (the ISO, then zeros).
seq 1 200000 >"$D/c/numbers.txt"
cp "$D/a/photo.jpg" "$D/a/picture.png" "$D/a/paper.pdf" "$D/c/"
head -c 15000000 /dev/urandom >"$D/c/noise.bin"
make_disc() { xorriso -as mkisofs -quiet -R -V "$1" -o "$2" "$3" >/dev/null 2>&1; }
if ! make_disc TESSARIN_A "$D/a.iso" "$D/a" || ! make_disc TESSARIN_B "$D/b.iso" "$D/b" ||
  ! make_disc TESSARIN_C "$D/c.iso" "$D/c" || [ "$(stat -c %s "$D/c.iso")" -gt $((10000 * 2048)) ]; then
  echo "FAIL - xorriso could not build the test discs"
  exit 1
fi
truncate -s $((10000 * 2048)) "$D/c.iso"
sectors_of() { echo $(($(stat -c %s "$1") / 2048)); }
NA=$(sectors_of "$D/a.iso")
NB=$(sectors_of "$D/b.iso")

# DAMAGED (disc C), HOLE and the 12 s disc: sectors that fail slowly, as on a scratched disc.
C_BAD="1000-1009,5000-5099,9000"
C_BAD_LIST=$( (seq 1000 1009; seq 5000 5099; echo 9000) | tr '\n' ' ')
HOLE_SECTORS=20000
# BLANK0: disc A with its first sector bad (blkdebug: it fails at once).
zero_sectors() { # IMAGE OUT SECTOR...
  local image=$1 out=$2 s
  shift 2
  cp "$image" "$out"
  for s in "$@"; do dd if=/dev/zero of="$out" bs=2048 seek="$s" count=1 conv=notrunc status=none; done
}
zero_sectors "$D/c.iso" "$D/c-zeroed.iso" $C_BAD_LIST
zero_sectors "$D/a.iso" "$D/a-zeroed0.iso" 0
zero_sectors "$D/a.iso" "$D/a-zeroed300.iso" 300
# HOLE: sparse but for stamped sectors around its bad sector and at its ends.
rm -f "$D/hole.iso"
truncate -s $((HOLE_SECTORS * 2048)) "$D/hole.iso"
for s in 0 16383 16385 $((HOLE_SECTORS - 1)); do
  { printf 'sector %d of the hole disc\n' "$s"; head -c 2000 /dev/urandom; } |
    dd of="$D/hole.iso" bs=2048 seek="$s" count=1 conv=notrunc,sync status=none
done

# BIG: sparse but for stamped sectors at both ends and on both sides of the 1 GiB boundary,
# where the copy closes the first part and begins the second.
BIG_SECTORS=$((524288 + 512))
if [ "${KX_DRIVE_VM_BIG:-1}" = 1 ]; then
  rm -f "$D/big.iso"
  truncate -s $((BIG_SECTORS * 2048)) "$D/big.iso"
  for s in 0 1 524254 524255 524256 524286 524287 524288 524289 524320 $((BIG_SECTORS - 1)); do
    { printf 'sector %d of the big disc\n' "$s"; head -c 2000 /dev/urandom; } |
      dd of="$D/big.iso" bs=2048 seek="$s" count=1 conv=notrunc,sync status=none
  done
fi

# --- the session in the VM --------------------------------------------------------------------
P=$WORK/prog
rm -rf "$P"
mkdir -p "$P"
cp "$CLI" "$P/tessarin-cli"
strip --strip-debug "$P/tessarin-cli" 2>/dev/null || true
cp "$HERE/guest-lib.sh" "$P/"
cat >"$P/session.sh" <<EOF
. ./guest-lib.sh
NA=$NA
NB=$NB
BIG=${KX_DRIVE_VM_BIG:-1}
BIG_SECTORS=$BIG_SECTORS
HOLE_SECTORS=$HOLE_SECTORS
EOF
cat >>"$P/session.sh" <<'EOF'
cli=./tessarin-cli
DISC=$(drive_letter DISC) DAMAGED=$(drive_letter DAMAGED) BLANK0=$(drive_letter BLANK0)
LATE=$(drive_letter LATE) SCSI=$(drive_letter SCSI) HOLE=$(drive_letter HOLE)
echo "$DISC $DAMAGED $BLANK0 $LATE $SCSI $HOLE" >/out/letters

run drives1 $cli drives
run info-disc $cli info $DISC
run scan-disc $cli scan $DISC -o /out/disc.kx
run image-disc $cli image $DISC /out/disc
# For the figures: the first scan of a session pays for paging in the locale data (about a
# second under emulation), so the rate is taken from a second one; beside it, the drive read by
# the kernel alone in 64 KiB requests, and the scan of the copy in memory, where only the
# emulated processor counts.
run scan-disc-again $cli scan $DISC -o /out/disc-again.kx
run dd-disc dd if=/dev/sr$(($(printf %d "'${DISC%:}") - 68)) of=/dev/null bs=65536
run scan-file $cli scan /out/disc.iso -o /out/file.kx

# The damaged disc; each command's failing reads are counted between the marks.
run info-damaged $cli info $DAMAGED
mark scan-damaged
run scan-damaged $cli scan $DAMAGED -o /out/damaged.kx
mark image-damaged
run image-damaged $cli image $DAMAGED /out/damaged
mark rescue-damaged
run rescue-damaged $cli rescue $DAMAGED /out/rescued
# Stopped with Ctrl+C once it has sent 200 commands (part way through the copy), then run again.
mark rescue-stopped
_from=$(drive_commands $DAMAGED)
$cli rescue $DAMAGED /out/resumed </dev/null >/out/rescue-stopped.out 2>/out/rescue-stopped.err &
_pid=$!
_i=0
until [ $(($(drive_commands $DAMAGED) - _from)) -ge 200 ] || [ $_i -ge 2000 ]; do sleep 0.05; _i=$((_i + 1)); done
kill -INT $_pid
wait $_pid
echo $? >/out/rescue-stopped.rc
cp /out/resumed.iso.map /out/stopped.map
mark rescue-resumed
run rescue-resumed $cli rescue $DAMAGED /out/resumed
mark damaged-done

run info-blank0 $cli info $BLANK0
run scan-blank0 $cli scan $BLANK0 -o /out/blank0.kx
run image-blank0 $cli image $BLANK0 /out/blank0

run info-hole $cli info $HOLE
mark image-hole
run image-hole $cli image $HOLE /out/hole
mark hole-done
# Only the stamped sectors and the bad one go back to the host.
for s in 0 16383 16384 16385 $((HOLE_SECTORS - 1)); do dd if=/out/hole.iso bs=2048 skip=$s count=1 2>/dev/null; done >/out/hole-stamps
stat -c %s /out/hole.iso >/out/hole-size
rm -f /out/hole.iso

run info-empty $cli info $LATE
run scan-empty $cli scan $LATE -o /out/empty.kx
run image-empty $cli image $LATE /out/empty

# A disc put in while the session runs; nothing touches the drive until it is read.
change LATE B
sleep 2
run info-late $cli info $LATE
run image-late $cli image $LATE /out/late
run drives2 $cli drives

# The disc changed during a copy or a scan, once it is reading: when it has sent more commands
# than opening takes (the kernel's own few on open, a TEST UNIT READY and some 20 one-sector
# probes).
run_changing() { # NAME DISC-TAG COMMAND...
  _n=$1 _tag=$2
  shift 2
  _from=$(drive_commands $LATE)
  run "$_n" "$@" &
  _pid=$!
  _i=0
  until [ $(($(drive_commands $LATE) - _from)) -ge 40 ] || [ $_i -ge 200 ]; do sleep 0.05; _i=$((_i + 1)); done
  change LATE "$_tag"
  wait $_pid
}
run_changing image-swapped A $cli image $LATE /out/swapped
run_changing scan-swapped B $cli scan $LATE -o /out/swapped.kx
run_changing image-removed none $cli image $LATE /out/removed

run info-scsi $cli info $SCSI
run image-scsi $cli image $SCSI /out/scsi

# A sector that takes 12 s to fail, longer than the kernel's old limit of 8 s: the drive's own
# answer is awaited, and the kernel never resets the link.
change LATE SLOW
_i=0
until $cli info $LATE >/dev/null 2>&1 || [ $_i -ge 200 ]; do sleep 0.05; _i=$((_i + 1)); done
dmesg >/out/dmesg-before
mark image-slow
run image-slow $cli image $LATE /out/slow
mark slow-done
dmesg >/out/dmesg-after

if [ "$BIG" = 1 ]; then
  BIGD=$(drive_letter BIG)
  run image-big $cli image $BIGD /out/big
  # Only the stamped sectors and the part sizes go back to the host, not 1 GiB of zeros.
  for s in 0 1 524254 524255 524256 524286 524287; do
    dd if=/out/big.iso bs=2048 skip=$s count=1 2>/dev/null
  done >/out/big-stamps
  for s in 0 1 32 $((BIG_SECTORS - 1 - 524288)); do
    dd if=/out/big.iso02 bs=2048 skip=$s count=1 2>/dev/null
  done >>/out/big-stamps
  stat -c %s /out/big.iso /out/big.iso02 >/out/big-sizes
  ls /out/big.iso* >/out/big-parts
  # Neither zeros nor stamps need checking byte by byte in the guest: a sha256 of the whole
  # image in emulation would take longer than the copy.
  rm -f /out/big.iso /out/big.iso02
fi
EOF

# LATE reads at 3 MB/s, so that a copy or scan of it lasts seconds: long enough for a disc to
# be changed in the middle.
VM_DISCS=([A]="$D/a.iso" [B]="$D/b.iso")
vm_drive DISC ide "$D/a.iso"
vm_slow_disc C "$D/c.iso" "$C_BAD" 1 "$WORK/damaged.log" || exit 1
vm_slow_disc HOLE "$D/hole.iso" 16384 1 "$WORK/hole.log" || exit 1
vm_slow_disc SLOW "$D/a.iso" 300 12 "$WORK/slow.log" || exit 1
vm_drive DAMAGED ide "${VM_DISCS[C]}"
vm_drive BLANK0 ide "$D/a.iso" bad=0
vm_drive LATE ide none rate=3000000
vm_drive SCSI scsi "$D/a.iso"
vm_drive HOLE scsi "${VM_DISCS[HOLE]}"
BIG_MEM=''
if [ "${KX_DRIVE_VM_BIG:-1}" = 1 ]; then
  vm_drive BIG scsi "$D/big.iso"
    BIG_MEM=1
fi
O=$WORK/out
t0=$(date +%s.%N)
# The images of the damaged disc and the 1 GiB image are written into the guest's memory.
vm_mem=${BIG_MEM:+1800M}
VM_MEM=${vm_mem:-768M} VM_OUT_SIZE=512M VM_TIMEOUT=${KX_DRIVE_VM_TIMEOUT:-400} vm_boot "$P" "$O" >"$WORK/session.log"
vm_rc=$?
t1=$(date +%s.%N)
sed 's/^/  | /' "$WORK/session.log"
if [ $vm_rc -ne 0 ]; then
  echo "FAIL - the VM session did not finish (status $vm_rc); console in $O.console"
  exit 1
fi
read -r L_DISC L_DAMAGED L_BLANK0 L_LATE L_SCSI L_HOLE <"$O/letters"

# --- checks -------------------------------------------------------------------------------------
rc() { cat "$O/$1.rc"; }
out() { cat "$O/$1.out"; }
err() { cat "$O/$1.err"; }
# The project keeps its list sorted by extension; entries of one extension may come out in
# another order where the locale differs (the guest has none), so entries are compared in
# offset order.
files_of() { # PROJECT: the found files without the location, one per line
  "$CLI" list "$1" --json --sort offset | sed -n 's/^ *\({"name".*}\),\{0,1\}$/\1/p'
}
MOUNT="An error occurred while trying to mount the disk. The specified drive or image file does not exist, there is no media loaded or the image file has a wrong format."
# The device of a drive letter: D: is /dev/sr0, E: /dev/sr1, ...
dev_of() { printf '/dev/sr%d' $(($(printf '%d' "'${1:0:1}") - 68)); }
# After what the window says, the command line names the device and the reason on a line of its own.
NL=$'\n'
CHANGED="The disc was changed during the operation."

echo "# a drive with a disc ($L_DISC)"
expect "drives lists each drive with the label of its disc, and an empty drive alone" \
  "$(grep -E "^($L_DISC|$L_LATE|$L_SCSI)" "$O/drives1.out" | tr '\n' '|')" \
  "$L_DISC (TESSARIN_A)|$L_LATE|$L_SCSI (TESSARIN_A)|"
expect "info counts the disc's sectors exactly" "$(rc info-disc) $(grep Sectors "$O/info-disc.out")" "0 Sectors: $NA"
"$CLI" scan "$D/a.iso" -o "$WORK/host/a.kx" >/dev/null
expect "scan of the drive exits 0" "$(rc scan-disc)" 0
files_of "$WORK/host/a.kx" >"$WORK/host/a.files"
files_of "$O/disc.kx" >"$WORK/host/disc.files"
if [ -s "$WORK/host/a.files" ] && [ "$(wc -l <"$WORK/host/a.files")" -gt 5 ]; then
  same_file "scan of the drive finds the same $(wc -l <"$WORK/host/a.files") files as the scan of its image file" \
    "$WORK/host/disc.files" "$WORK/host/a.files"
else
  bad "the scan of disc A's image finds several files" "$(wc -l <"$WORK/host/a.files") found"
fi
expect "image of the drive exits 0 and says so" "$(rc image-disc) $(tail -n1 "$O/image-disc.out")" \
  "0 $NA/$NA sectors ($((NA * 2048 >> 20)) MB) - Complete, 1 part file"
same_file "image of the drive is byte-identical to the disc" "$O/disc.iso" "$D/a.iso"

# The failing reads a command made: the failed reads in LOG between "mark NAME" and the next mark.
failing_reads() { # LOG NAME
  awk -v m="mark $2" '$0 == m {on = 1; next} /^mark / {on = 0} on && / failed$/ {n++} END {print n + 0}' "$1"
}
at_most() { # WHAT ACTUAL LIMIT
  if [ "$2" -le "$3" ]; then ok "$1 ($2)"; else bad "$1" "$2, more than $3"; fi
}
# The sectors a map lists in the given states, one per line, as ddrescuelog lists them.
map_sectors() { ddrescuelog -b2048 -l"$2" "$1" 2>/dev/null; }
C_BAD_LINES=$(printf '%s\n' $C_BAD_LIST)
same_scan() { # WHAT PROJECT IMAGE: the project's files are those of a scan of IMAGE here
  local name
  name=$(basename "$3" .iso)
  "$CLI" scan "$3" -o "$WORK/host/$name.kx" >/dev/null
  files_of "$WORK/host/$name.kx" >"$WORK/host/$name.files"
  files_of "$2" >"$WORK/host/$name.drive.files"
  same_file "$1" "$WORK/host/$name.drive.files" "$WORK/host/$name.files"
}

echo "# a damaged disc: sectors $C_BAD take 1 s to fail ($L_DAMAGED)"
expect "info counts the damaged disc whole" "$(rc info-damaged) $(grep Sectors "$O/info-damaged.out")" "0 Sectors: 10000"
expect "scan exits 0 and counts the unreadable sectors" "$(rc scan-damaged) $(err scan-damaged)" \
  "0 tessarin-cli: 111 unreadable sectors were examined as zeros"
same_scan "... its list equals the scan of the image with just the bad sectors zeroed" "$O/damaged.kx" "$D/c-zeroed.iso"
at_most "... with few failing reads" "$(failing_reads "$WORK/damaged.log" scan-damaged)" 30
expect "image exits 1 and counts the unreadable sectors" "$(rc image-damaged) $(err image-damaged)" \
  "1 tessarin-cli: 111 unreadable sectors were written as zeros"
same_file "... the image is the disc with just the bad sectors zeroed" "$O/damaged.iso" "$D/c-zeroed.iso"
at_most "... with few failing reads" "$(failing_reads "$WORK/damaged.log" image-damaged)" 30
expect "rescue exits 1 with a summary of what is left" "$(rc rescue-damaged) $(grep "MiB rescued" "$O/rescue-damaged.out" | sed 's/(.*)//')" \
  "1 19.3 of 19.5 MiB rescued; 111 unreadable sectors in 3 areas ; $(failing_reads "$WORK/damaged.log" rescue-damaged) failing reads"
same_file "... the image is the disc with just the bad sectors zeroed" "$O/rescued.iso" "$D/c-zeroed.iso"
at_most "... with at most ddrescue's failing reads (11) + 2" "$(failing_reads "$WORK/damaged.log" rescue-damaged)" 13
if ddrescuelog -t "$O/rescued.iso.map" >/dev/null 2>&1; then ok "... ddrescuelog takes its map"; else bad "... ddrescuelog takes its map"; fi
expect "... the map lists exactly the bad sectors as not finished" "$(map_sectors "$O/rescued.iso.map" '?*/-')" "$C_BAD_LINES"
# The image is one file, and the map ddrescue's: ddrescue goes on with them (from the disc's file,
# where every sector reads, so that it scrapes the inside of the bad areas and leaves the bad ones).
cp "$O/rescued.iso" "$WORK/host/continued.iso"
cp "$O/rescued.iso.map" "$WORK/host/continued.map"
ddrescue -q -b2048 "$D/c.iso" "$WORK/host/continued.iso" "$WORK/host/continued.map" >/dev/null 2>&1
expect "... GNU ddrescue goes on with the image and its map" "$(map_sectors "$WORK/host/continued.map" '?*/-' | tr '\n' ' ')" \
  "1000 1009 5000 5099 9000 "
expect "rescue stopped with Ctrl+C exits 130 and keeps its map" \
  "$(rc rescue-stopped) $(ddrescuelog -t "$O/stopped.map" >/dev/null 2>&1 && echo map)" "130 map"
expect "... run again, it goes on from the map and exits 1" "$(rc rescue-resumed) $(head -n2 "$O/rescue-resumed.out" | tail -n1 | cut -c1-21)" \
  "1 Going on from the map"
same_file "... the image is the disc with just the bad sectors zeroed" "$O/resumed.iso" "$D/c-zeroed.iso"
expect "... the map lists exactly the bad sectors as not finished" "$(map_sectors "$O/resumed.iso.map" '?*/-')" "$C_BAD_LINES"
# Reads of the second run, against the sectors the first one had finished.
reread=$(map_sectors "$O/stopped.map" '+' | awk -v logfile="$WORK/damaged.log" '
  { done[$1] = 1 }
  END {
    while ((getline line < logfile) > 0) {
      if (line == "mark rescue-resumed") on = 1; else if (line ~ /^mark /) on = 0
      else if (on) { split(line, f, " "); for (s = f[2]; s <= f[3]; s++) if (s in done) n++ }
    }
    print n + 0
  }')
expect "... and reads no sector that the first run had read" "$reread" 0
at_most "... both runs together with few failing reads" \
  "$(($(failing_reads "$WORK/damaged.log" rescue-stopped) + $(failing_reads "$WORK/damaged.log" rescue-resumed)))" 15

echo "# a disc whose first sector cannot be read ($L_BLANK0)"
expect "info counts it whole" "$(rc info-blank0) $(grep Sectors "$O/info-blank0.out")" "0 Sectors: $NA"
expect "scan examines the sector as zeros and goes on" "$(rc scan-blank0) $(err scan-blank0)" \
  "0 tessarin-cli: 1 unreadable sector was examined as zeros"
same_scan "... its list equals the scan of the image with that sector zeroed" "$O/blank0.kx" "$D/a-zeroed0.iso"
expect "image writes it as zeros, goes on and exits 1" "$(rc image-blank0) $(err image-blank0)" \
  "1 tessarin-cli: 1 unreadable sector was written as zeros"
same_file "... the rest is the disc" "$O/blank0.iso" "$D/a-zeroed0.iso"

echo "# a disc of $HOLE_SECTORS sectors whose sector 16384 takes 1 s to fail, on a drive without READ CD ($L_HOLE)"
expect "info counts it whole" "$(rc info-hole) $(grep Sectors "$O/info-hole.out")" "0 Sectors: $HOLE_SECTORS"
expect "image exits 1 with the one sector as zeros" "$(rc image-hole) $(err image-hole) $(cat "$O/hole-size")" \
  "1 tessarin-cli: 1 unreadable sector was written as zeros $((HOLE_SECTORS * 2048))"
for s in 0 16383; do dd if="$D/hole.iso" bs=2048 skip=$s count=1 status=none; done >"$WORK/host/hole-stamps"
head -c 2048 /dev/zero >>"$WORK/host/hole-stamps"
for s in 16385 $((HOLE_SECTORS - 1)); do dd if="$D/hole.iso" bs=2048 skip=$s count=1 status=none; done >>"$WORK/host/hole-stamps"
same_file "... the sectors around it and at the ends are the disc's" "$O/hole-stamps" "$WORK/host/hole-stamps"
at_most "... with few failing reads" "$(failing_reads "$WORK/hole.log" image-hole)" 3

echo "# an empty drive ($L_LATE)"
EMPTY="tessarin-cli: $(dev_of "$L_LATE"): no disc, or the drive is not ready"
expect "info of an empty drive" "$(rc info-empty) $(err info-empty)" "1 $MOUNT${NL}$EMPTY"
expect "scan of an empty drive" "$(rc scan-empty) $(out scan-empty)$(err scan-empty)" "1 $MOUNT${NL}$EMPTY"
expect "image of an empty drive" "$(rc image-empty) $(out image-empty)$(err image-empty)" "1 Drive unit is not ready${NL}$EMPTY"
missing "... no project written" "$O/empty.kx"
missing "... no image written" "$O/empty.iso"

echo "# a disc put in while the session runs ($L_LATE)"
expect "info counts the new disc" "$(rc info-late) $(grep Sectors "$O/info-late.out")" "0 Sectors: $NB"
expect "image of the new disc completes" "$(rc image-late)" 0
same_file "... byte-identical" "$O/late.iso" "$D/b.iso"
expect "drives shows its label" "$(grep "^$L_LATE" "$O/drives2.out")" "$L_LATE (TESSARIN_B)"

echo "# a disc changed or taken out during image and scan ($L_LATE)"
kept_prefix() { # WHAT IMAGE DISC
  local size
  size=$(stat -c %s "$2")
  if [ "$size" -gt 0 ] && [ $((size % 65536)) -eq 0 ] && [ "$size" -lt "$(stat -c %s "$3")" ] &&
    cmp -s "$2" <(head -c "$size" "$3"); then
    ok "$1 ($((size / 2048)) sectors)"
  else
    bad "$1" "$size bytes kept; whole chunks of the first disc expected, fewer than all"
  fi
}
expect "image ends with the message when the disc is changed, exit 1" \
  "$(rc image-swapped) $(err image-swapped)" "1 tessarin-cli: $CHANGED"
kept_prefix "... the part written so far is kept, whole chunks of the first disc only" "$O/swapped.iso" "$D/b.iso"
expect "scan ends with the message when the disc is changed, exit 1" \
  "$(rc scan-swapped) $(sed 's/ at sector [0-9]*:/:/' "$O/scan-swapped.err")" "1 tessarin-cli: the scan stopped: $CHANGED"
files_of "$O/swapped.kx" | sed '$d' >"$WORK/host/swapped.files"
n=$(wc -l <"$WORK/host/swapped.files")
if [ -f "$O/swapped.kx" ] && grep -q "^Stopped after\|^Scanned [0-9]* of $NA sectors" "$O/scan-swapped.out" &&
  ! grep -q "^Scanned $NA of $NA" "$O/scan-swapped.out" &&
  cmp -s "$WORK/host/swapped.files" <(head -n "$n" "$WORK/host/a.files"); then
  ok "... the project keeps what was found on the first disc ($n files before the last one)"
else
  bad "... the project keeps what was found on the first disc" "$(head -n1 "$O/scan-swapped.out")"
fi
expect "image ends with the message when the disc is taken out, exit 1" \
  "$(rc image-removed) $(err image-removed)" "1 tessarin-cli: $CHANGED"
kept_prefix "... the part written so far is kept" "$O/removed.iso" "$D/b.iso"

echo "# a drive without READ CD ($L_SCSI)"
expect "info counts the disc with READ(10)" "$(rc info-scsi) $(grep Sectors "$O/info-scsi.out")" "0 Sectors: $NA"
expect "image exits 0" "$(rc image-scsi)" 0
same_file "... byte-identical" "$O/scsi.iso" "$D/a.iso"

echo "# a sector that takes 12 s to fail ($L_LATE)"
expect "image waits for the drive's answer and writes the sector as zeros" "$(rc image-slow) $(err image-slow)" \
  "1 tessarin-cli: 1 unreadable sector was written as zeros"
same_file "... the rest is the disc" "$O/slow.iso" "$D/a-zeroed300.iso"
expect "... with two failing reads" "$(failing_reads "$WORK/slow.log" image-slow)" 2
new_kernel_lines=$(tail -n +$(($(wc -l <"$O/dmesg-before") + 1)) "$O/dmesg-after")
expect "... and the kernel reset no link" "$(grep -ci 'reset' <<<"$new_kernel_lines")" 0

if [ "${KX_DRIVE_VM_BIG:-1}" = 1 ]; then
  echo "# a disc of $BIG_SECTORS sectors: the 1 GiB part boundary"
  expect "image exits 0 with two parts" "$(rc image-big) $(tail -n1 "$O/image-big.out" | sed 's/.* - //')" \
    "0 Complete, 2 part files"
  expect "part 1 is 1 GiB, part 2 the rest" "$(tr '\n' ' ' <"$O/big-sizes")" "1073741824 $((512 * 2048)) "
  for s in 0 1 524254 524255 524256 524286 524287; do dd if="$D/big.iso" bs=2048 skip=$s count=1 status=none; done \
    >"$WORK/host/big-stamps"
  for s in 524288 524289 524320 $((BIG_SECTORS - 1)); do dd if="$D/big.iso" bs=2048 skip=$s count=1 status=none; done \
    >>"$WORK/host/big-stamps"
  same_file "the sectors on both sides of the boundary and at the ends are where they belong" \
    "$O/big-stamps" "$WORK/host/big-stamps"
fi

# --- figures ------------------------------------------------------------------------------------
rate() { awk -v n="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f MB/s", n * 2048 / s / 1e6; else printf "-" }'; }
echo "drive VM: $passed checks passed, $failed failed"
echo "drive VM: damaged disc of 10,000 sectors, 111 bad, 1 s per failing read: failing reads / seconds:" \
  "scan $(failing_reads "$WORK/damaged.log" scan-damaged) / $(cat "$O/scan-damaged.secs")," \
  "image $(failing_reads "$WORK/damaged.log" image-damaged) / $(cat "$O/image-damaged.secs")," \
  "rescue $(failing_reads "$WORK/damaged.log" rescue-damaged) / $(cat "$O/rescue-damaged.secs")"
echo "drive VM: boot to session ${VM_BOOT_SECONDS} s, whole run $(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}') s (TCG)"
secs() { cat "$O/$1.secs"; }
echo "drive VM: $NA sectors: scan $L_DISC $(secs scan-disc-again) s = $(rate "$NA" "$(secs scan-disc-again)")" \
  "(first scan of the session $(secs scan-disc) s);" \
  "image $L_DISC $(secs image-disc) s = $(rate "$NA" "$(secs image-disc)");" \
  "dd of the drive $(secs dd-disc) s = $(rate "$NA" "$(secs dd-disc)");" \
  "scan of the image file in the VM $(secs scan-file) s = $(rate "$NA" "$(secs scan-file)")"
[ "${KX_DRIVE_VM_BIG:-1}" != 1 ] ||
  echo "drive VM: image of $BIG_SECTORS sectors in $(cat "$O/image-big.secs") s = $(rate "$BIG_SECTORS" "$(cat "$O/image-big.secs")")"
[ "$failed" -eq 0 ]

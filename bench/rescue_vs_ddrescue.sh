#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench/rescue_vs_ddrescue.sh BUILD [SECONDS_PER_FAILING_READ]
#
# Damaged discs in the drive test's VM (tests/drive/vm.sh), in one boot: tessarin-cli's scan,
# image and rescue (copy and trim, no scraping) against GNU ddrescue (-d -n -b2048, carried into
# the guest with its libraries) on two discs whose damaged sectors wait, then fail (nbdkit,
# tests/drive/slow-sectors.py):
#   three areas: 10,000 sectors, bad 1000-1009, 5000-5099 and 9000 (the issue's measurement)
#   one area:    100,000 sectors, bad 40000-44999
# Prints a table of failing reads (counted by the disc, between the session's marks) and wall
# time per command, and the ratios of rescue to ddrescue. Not run by CI: several minutes.
set -uo pipefail

BUILD=$(cd "${1:?usage: $0 BUILD [SECONDS]}" && pwd)
DELAY=${2:-1}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=$BUILD/src/tessarin-cli
WORK=$BUILD/bench/rescue-vs-ddrescue
source "$ROOT/tests/drive/vm.sh"

DDRESCUE=$(command -v ddrescue) || { echo "ddrescue is missing (package gddrescue)"; exit 1; }
[ -x "$CLI" ] || { echo "$CLI is missing: cmake --build $BUILD --target tessarin-cli"; exit 1; }
mkdir -p "$WORK"
vm_prepare "$WORK/vm" || { echo "the VM cannot run here: $VM_WHY"; exit 1; }

D=$WORK/discs
rm -rf "$D" "$WORK/out"
mkdir -p "$D"
# Random data, so that the scan examines what a real disc holds, not long runs of zeros.
head -c $((10000 * 2048)) /dev/urandom >"$D/three.iso"
head -c $((100000 * 2048)) /dev/urandom >"$D/one.iso"
vm_slow_disc THREE "$D/three.iso" 1000-1009,5000-5099,9000 "$DELAY" "$WORK/three.log" || exit 1
vm_slow_disc ONE "$D/one.iso" 40000-44999 "$DELAY" "$WORK/one.log" || exit 1
vm_drive THREE ide "${VM_DISCS[THREE]}"
vm_drive ONE ide "${VM_DISCS[ONE]}"

P=$WORK/prog
rm -rf "$P"
mkdir -p "$P"
cp "$CLI" "$DDRESCUE" "$ROOT/tests/drive/guest-lib.sh" "$P/"
cat >"$P/session.sh" <<'EOF'
. ./guest-lib.sh
for disc in THREE ONE; do
  letter=$(drive_letter $disc)
  device=/dev/sr$(($(printf %d "'${letter%:}") - 68))
  mark scan-$disc
  run scan-$disc ./tessarin-cli scan $letter -o /out/$disc.kx
  mark image-$disc
  run image-$disc ./tessarin-cli image $letter /out/image-$disc
  rm -f /out/image-$disc.iso*
  mark rescue-$disc
  run rescue-$disc ./tessarin-cli rescue $letter /out/rescue-$disc
  rm -f /out/rescue-$disc.iso
  mark ddrescue-$disc
  run ddrescue-$disc ./ddrescue -d -n -b2048 $device /out/dd-$disc.iso /out/dd-$disc.map
  rm -f /out/dd-$disc.iso
  mark done-$disc
done
EOF

echo "booting the VM; this takes several minutes (${DELAY} s per failing read)" >&2
VM_MEM=1024M VM_TIMEOUT=3000 vm_boot "$P" "$WORK/out" >/dev/null
rc=$?
[ $rc -eq 0 ] || { echo "the VM session failed (status $rc); console in $WORK/out.console"; exit 1; }

failing() { awk -v m="mark $2" '$0 == m {on = 1; next} /^mark / {on = 0} on && / failed$/ {n++} END {print n + 0}' "$1"; }
secs() { cat "$WORK/out/$1.secs"; }
printf '%-12s %-10s %14s %10s %6s\n' disc command "failing reads" seconds exit
for disc in THREE ONE; do
  log=$WORK/$(tr 'A-Z' 'a-z' <<<"$disc").log
  for c in scan image rescue ddrescue; do
    printf '%-12s %-10s %14s %10s %6s\n' "$disc" "$c" "$(failing "$log" "$c-$disc")" "$(secs "$c-$disc")" \
      "$(cat "$WORK/out/$c-$disc.rc")"
  done
  awk -v r="$(secs rescue-$disc)" -v d="$(secs ddrescue-$disc)" -v disc="$disc" \
    'BEGIN { if (d > 0) printf "%-12s rescue / ddrescue wall time: %.2f\n", disc, r / d }'
done
for disc in THREE ONE; do
  tail -n 2 "$WORK/out/rescue-$disc.out" | head -n 1
done

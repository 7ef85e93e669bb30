#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Real files of the formats whose header recurs inside a file or that only real writers get
# right, made on this machine, carved from one disc image by RealFileScan: MPEG program streams
# (ffmpeg -f vob and -f mpeg), GNU tar archives (ustar, GNU and POSIX formats; binary, text and
# program members) and DCX files (written by ImageMagick, and built by hand from PCX pages).
# Prints one line per file and the totals; the image and the files are removed afterwards.
# Needs ffmpeg, imagemagick, tar and python3.
#   bench/real_files.sh BUILD_DIR            # after: cmake --build BUILD_DIR --target RealFileScan
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kxRealFiles.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# Program streams: a pack header in every sector (-f vob), or every few sectors (-f mpeg). Noise
# keeps the encoder at its bit rate, as filmed pictures do.
dvd=(-c:v mpeg2video -maxrate 9M -bufsize 1835k -c:a mp2 -f vob)
vcd=(-c:v mpeg1video -c:a mp2 -f mpeg)
ff -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440 -t 12 -b:v 4M "${dvd[@]}" testsrc.vob
ff -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=880 -t 8 -vf noise=alls=12:allf=t:all_seed=7 \
   -b:v 5M "${dvd[@]}" noise.vob
ff -f lavfi -i smptebars=size=720x576:rate=25 -f lavfi -i sine=frequency=220 -t 60 -vf noise=alls=12:allf=t:all_seed=7 \
   -b:v 5M "${dvd[@]}" long.vob
ff -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine=frequency=440 -t 20 -b:v 1150k -b:a 224k "${vcd[@]}" \
   testsrc2.mpg
ff -f lavfi -i rgbtestsrc=size=352x288:rate=25 -f lavfi -i sine=frequency=660 -t 10 -b:v 1150k -b:a 224k "${vcd[@]}" \
   rgbtestsrc.mpg
ff -f lavfi -i life=size=352x288:rate=25:seed=7 -f lavfi -i sine=frequency=330 -t 30 -b:v 800k -b:a 128k "${vcd[@]}" life.mpg

# Tar archives: members of compressed-looking data of assorted sizes, source text, programs.
python3 - <<'EOF'
import os, random
rnd = random.Random(20261207)
for d, n in (("binary", 150), ("binary2", 40)):
    os.makedirs(d)
    for i in range(n):
        with open(f"{d}/part{i:03}.bin", "wb") as f:
            f.write(rnd.randbytes(rnd.choice((rnd.randrange(1, 3000), rnd.randrange(1, 200000)))))
EOF
tar -cf binary.tar binary
tar --format=posix -cf binary-posix.tar binary2
tar --format=gnu -cf source.tar -C /usr/include/c++/12 bits
find /usr/bin -maxdepth 1 -type f -size -400k | sort | head -40 > programs.list
tar -cf programs.tar -T programs.list 2>/dev/null

# DCX: as ImageMagick writes it, and by hand: the magic 987654321 stored little-endian, a table
# of page offsets ending in 0, then the PCX pages.
for page in rose logo wizard granite netscape; do convert "$page:" "$page.pcx"; done
convert rose.pcx logo.pcx wizard.pcx magick.dcx
python3 - <<'EOF'
import struct
pages = [open(f"{p}.pcx", "rb").read() for p in ("granite", "netscape", "rose")]
offset = 4 + 4 * (len(pages) + 1)
table = b""
for p in pages:
    table += struct.pack("<I", offset)
    offset += len(p)
open("hand.dcx", "wb").write(struct.pack("<I", 987654321) + table + struct.pack("<I", 0) + b"".join(pages))
EOF

# As a disc's file system might lay them out: first some of a kind back to back and others between
# files of other kinds, then every file grouped by kind, so that each archive follows another.
echo "== mixed"
"$build/bench/RealFileScan" image.iso \
  --kind 88 testsrc.vob noise.vob testsrc2.mpg rgbtestsrc.mpg \
  --kind 42 binary.tar \
  --kind 73 magick.dcx \
  --kind 42 source.tar \
  --kind 88 long.vob \
  --kind 42 programs.tar \
  --kind 73 hand.dcx \
  --kind 88 life.mpg \
  --kind 42 binary-posix.tar
echo
echo "== grouped by kind"
"$build/bench/RealFileScan" image.iso \
  --kind 88 testsrc.vob noise.vob long.vob testsrc2.mpg rgbtestsrc.mpg life.mpg \
  --kind 42 binary.tar binary-posix.tar programs.tar source.tar \
  --kind 73 magick.dcx hand.dcx

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How well modern files come back from a disc whose directories are gone: makes about 130 real
# files with the tools people use (ffmpeg's MP4, MOV, MKV, WebM, TS, M2TS, 3GP, M4A, Opus, Ogg,
# MP3, FLAC, FLV, AVI and DVD streams with their IFO files; camera-like JPEGs with EXIF, a
# thumbnail and an ICC profile; PNG, GIF, TIFF, BMP, WebP, HEIC, AVIF; Office and OpenDocument
# files, EPUB, JAR, APK, PDF; zip, tar, gzip, bzip2, xz, zstd and 7z archives; TrueType and
# OpenType fonts from Debian; SQLite, ELF and PE programs, an ISO image), packs them into an ISO
# 9660 image, zeroes every sector that is not file data (volume descriptors, path tables,
# directories), and recovers them with `tessarin-cli scan` + `extract`, PhotoRec and foremost.
# Prints per format how many files came back whole (exact or padded), cut or missing, and the
# false entries of each tool. Installs what it needs; not run by test.sh or CI; removes its files
# unless KX_KEEP=1.
#   bench/modern_files.sh BUILD_DIR [OTHER_CLI...]   # each OTHER_CLI is compared too (an older build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
cli=$build/src/tessarin-cli
[ -x "$cli" ] || { echo "build first: cmake --build $build --target tessarin-cli" >&2; exit 1; }
source "$root/tools/common.sh"
kx_install_missing ffmpeg imagemagick libimage-exiftool-perl icc-profiles-free python3 python3-docx \
  python3-openpyxl xorriso dvdauthor 7zip zstd xz-utils bzip2 fonts-dejavu-core fonts-urw-base35 \
  systemd-boot-efi testdisk foremost
py=/usr/bin/python3

work=$(mktemp -d "${TMPDIR:-/tmp}/kxModern.XXXXXX")
[ "${KX_KEEP:-0}" = 1 ] && echo "files kept in $work" >&2 || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/files"
cd "$work/src"

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
video() { # NAME SECONDS SIZE BITRATE [ffmpeg output options...]
  local name=$1 secs=$2 size=$3 rate=$4
  shift 4
  ff -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$secs" \
     -vf "noise=alls=18:allf=t:all_seed=$RANDOM" -b:v "$rate" -maxrate "$rate" -bufsize "$rate" "$@" "$name"
}
echo "making files..." >&2
x264=(-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 128k)
video big.mp4 60 1280x720 14M "${x264[@]}"
video phone.mov 40 1280x720 7M "${x264[@]}" -f mov
video film.mkv 40 1280x720 8M -c:v libx264 -preset ultrafast -c:a libopus
for i in 1 2 3 4 5; do video "clip$i.mp4" $((2 + i)) 640x360 3M "${x264[@]}"; done
for i in 1 2; do video "short$i.mov" $((3 + i)) 640x360 2M "${x264[@]}" -f mov; done
for i in 1 2 3; do video "episode$i.mkv" $((4 + i)) 640x360 2M -c:v libx264 -preset ultrafast -c:a libvorbis; done
for i in 1 2; do video "web$i.webm" 8 480x270 1M -c:v libvpx -deadline realtime -cpu-used 8 -c:a libvorbis; done
video vp9.webm 6 480x270 1M -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -c:a libopus
video camcorder.ts 30 1280x720 6M "${x264[@]}" -f mpegts
video bluray.m2ts 12 1280x720 6M "${x264[@]}" -f mpegts -mpegts_m2ts_mode 1
video broadcast.ts 8 720x576 4M -c:v mpeg2video -c:a mp2 -f mpegts
for i in 1 2; do video "mobile$i.3gp" 6 352x288 600k -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 32k -ar 16000 -ac 1 -f 3gp; done
for i in 1 2; do video "old$i.flv" 6 480x270 800k -c:v flv1 -c:a libmp3lame -ar 44100; done
video capture.avi 8 640x480 4M -c:v mjpeg -q:v 3 -c:a pcm_s16le
ff -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=220:sample_rate=48000 -t 10 \
   -vf noise=alls=12:allf=t -target pal-dvd dvd.mpg
VIDEO_FORMAT=PAL dvdauthor -o dvd -t dvd.mpg >/dev/null 2>&1 && VIDEO_FORMAT=PAL dvdauthor -o dvd -T >/dev/null 2>&1
cp dvd/VIDEO_TS/VIDEO_TS.IFO video_ts.ifo && cp dvd/VIDEO_TS/VTS_01_0.IFO vts_01_0.ifo && cp dvd/VIDEO_TS/VTS_01_1.VOB vts_01_1.vob
audio() { # NAME SECONDS [ffmpeg output options...]
  local name=$1 secs=$2
  shift 2
  ff -f lavfi -i "aevalsrc=sin(440*2*PI*t)*0.4+0.2*(random(0)-0.5)|sin(660*2*PI*t)*0.4+0.2*(random(1)-0.5):s=44100" \
     -t "$secs" "$@" "$name"
}
for i in 1 2 3; do audio "song$i.m4a" $((40 * i)) -c:a aac -b:a 160k; done
for i in 1 2 3; do audio "voice$i.opus" $((30 * i)) -c:a libopus -b:a 64k; done
for i in 1 2; do audio "music$i.ogg" $((50 * i)) -c:a libvorbis -q:a 4; done
for i in 1 2 3; do audio "track$i.mp3" $((45 * i)) -c:a libmp3lame -b:a 192k -metadata title="Track $i" -metadata artist=Tessarin; done
for i in 1 2; do audio "raw$i.mp3" $((30 * i)) -c:a libmp3lame -b:a 128k -id3v2_version 0 -write_xing 0; done
for i in 1 2; do audio "lossless$i.flac" $((20 * i)) -c:a flac; done
for i in 1 2; do audio "sample$i.wav" $((8 * i)) -c:a pcm_s16le; done

# Camera-like photographs: large, with EXIF, a thumbnail and an ICC profile.
icc=$(ls /usr/share/color/icc/*/*.icc 2>/dev/null | head -1 || true)
for i in $(seq 1 15); do
  ff -f lavfi -i "testsrc2=size=4000x3000,noise=alls=30:allf=t:all_seed=$i" -frames:v 1 -q:v 3 "photo$i.jpg"
  ff -i "photo$i.jpg" -vf scale=160:120 -q:v 5 thumb.jpg
  exiftool -q -overwrite_original -Make=Tessarin -Model="Bench $i" -DateTimeOriginal="2026:12:07 12:00:0$((i % 10))" \
    "-ThumbnailImage<=thumb.jpg" ${icc:+"-ICC_Profile<=$icc"} "photo$i.jpg"
done
for i in 1 2 3 4 5 6; do convert -size 1200x900 "plasma:fractal" -seed $i "picture$i.png"; done
for i in 1 2 3; do convert -size 400x300 "plasma:red-blue" -seed $i -colors 64 "anim$i.gif"; done
for i in 1 2 3; do convert -size 1600x1200 "gradient:blue-yellow" -attenuate 0.4 +noise Gaussian "scan$i.tif"; done
for i in 1 2; do convert -size 800x600 "plasma:green-red" -seed $i "image$i.bmp"; done
for i in 1 2 3; do convert -size 1000x750 "plasma:fractal" -seed $((10 + i)) -quality 80 "web$i.webp"; done
for i in 1 2; do convert -size 1200x900 "plasma:fractal" -seed $((20 + i)) "phone$i.heic"; done
for i in 1 2; do convert -size 800x600 "plasma:fractal" -seed $((30 + i)) "still$i.avif"; done

# Documents, archives, databases: built by the helper.
$py "$root/bench/modern_files.py" make "$work/src"

for i in 1 2; do tar -cf "archive$i.tar" picture$i.png photo$i.jpg song1.m4a; done
tar -czf photos.tar.gz photo3.jpg photo4.jpg; tar -czf sources.tar.gz -C /usr/include/c++/12 bits
tar -cjf pictures.tar.bz2 picture3.png picture4.png; tar -cjf headers.tar.bz2 -C /usr/include/c++/12 ext
tar -cJf media.tar.xz voice1.opus picture5.png; tar -cJf include.tar.xz -C /usr/include linux
tar --zstd -cf music.tar.zst music1.ogg picture6.png; tar --zstd -cf docs.tar.zst -C /usr/share/doc/bash .
7zz a -bd -bso0 backup.7z photo5.jpg photo6.jpg >/dev/null; 7zz a -bd -bso0 source.7z /usr/include/c++/12/bits >/dev/null
gzip -c /usr/bin/cmake > cmake.gz
cp /usr/share/fonts/truetype/dejavu/DejaVu{Sans,Serif,SansMono,Sans-Bold,Serif-Italic}.ttf .
cp $(ls /usr/share/fonts/opentype/urw-base35/*.otf | head -4) .
cp /usr/bin/cmake /usr/bin/ffmpeg /usr/bin/xorriso /usr/lib/x86_64-linux-gnu/libzstd.so.1 .
cp /usr/lib/systemd/boot/efi/systemd-bootx64.efi /usr/lib/systemd/boot/efi/linuxx64.efi.stub .
mkdir -p isotree && cp /usr/share/doc/bash/* isotree/ 2>/dev/null || true
xorriso -as mkisofs -quiet -R -o stored.iso isotree 2>/dev/null

# Every file under a number that mixes the kinds on the disc.
$py "$root/bench/modern_files.py" gather "$work/src" "$work/files"
echo "$(ls "$work/files" | wc -l) files, $(du -sm "$work/files" | cut -f1) MB" >&2
xorriso -as mkisofs -quiet -o "$work/disc.iso" "$work/files" 2>/dev/null
xorriso -indev "$work/disc.iso" -find / -type f -exec report_lba -- 2>/dev/null > "$work/lba.txt"
$py "$root/bench/modern_files.py" zero "$work/disc.iso" "$work/lba.txt"

run_tessarin() { # NAME CLI
  local out=$work/out-$1
  mkdir -p "$out"
  /usr/bin/time -f "%e" -o "$out.time" "$2" scan "$work/disc.iso" -o "$out.kx" > "$out.log"
  "$2" extract "$out.kx" -d "$out" >> "$out.log"
  echo "$1: scan $(cat "$out.time") s" >&2
}
run_tessarin tessarin "$cli"
n=0
for other in "$@"; do n=$((n + 1)); run_tessarin "older$n" "$other"; done
mkdir -p "$work/out-photorec"
photorec /log /d "$work/out-photorec/recup" /cmd "$work/disc.iso" partition_none,fileopt,everything,enable,search > /dev/null 2>&1 || true
foremost -Q -t all -i "$work/disc.iso" -o "$work/out-foremost" > /dev/null 2>&1 || true
rm -f "$work/out-foremost/audit.txt"

args=()
for d in tessarin $(seq -f older%g 1 $n) photorec foremost; do args+=("$d=$work/out-$d"); done
$py "$root/bench/modern_files.py" score "$work/files" "${args[@]}"

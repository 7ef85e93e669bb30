#!/usr/bin/env bash
# How the small real files of the end-finder tests were made (Debian 12's ffmpeg 5.1, GNU tar,
# 7-Zip, ImageMagick, exiftool and python3). They are committed, since building these formats
# in code would be harder to read than the files; run this to make them again.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
v=(-f lavfi -i testsrc2=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=16000 -t 1)
ff "${v[@]}" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 16k tiny.mp4
ff "${v[@]}" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 16k -f mov tiny.mov
ff "${v[@]}" -c:v libx264 -preset ultrafast -c:a libopus -b:a 16k tiny.mkv
ff "${v[@]}" -c:v libvpx -deadline realtime -c:a libvorbis tiny.webm
ff "${v[@]}" -c:v mpeg2video -c:a mp2 -f mpegts tiny.ts
ff "${v[@]}" -c:v flv1 -c:a libmp3lame -ar 22050 tiny.flv
ff -f lavfi -i testsrc2=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.5 -c:v mpeg2video -c:a mp2 -f vob tiny.vob
ff -f lavfi -i sine=frequency=440:sample_rate=16000 -t 1 -c:a libopus -b:a 16k tiny.opus
ff -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -b:a 32k -metadata title=Tiny tagged.mp3
ff -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -b:a 32k -id3v2_version 0 -write_xing 0 raw.mp3
convert -size 64x48 plasma:fractal -seed 3 -quality 80 tiny.jpg
convert -size 16x12 plasma:fractal -seed 4 thumb.jpg
exiftool -q -overwrite_original -Make=Tessarin "-ThumbnailImage<=thumb.jpg" tiny.jpg && rm thumb.jpg
convert -size 32x24 plasma:fractal -seed 5 tiny.png
convert -size 32x24 plasma:fractal -seed 6 -colors 16 tiny.gif
convert -size 32x24 plasma:fractal -seed 7 tiny.tif
convert -size 32x24 plasma:fractal -seed 8 tiny.webp
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("tiny.docx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>')
    z.writestr("word/document.xml", "<w:document>" + "words " * 200 + "</w:document>")
with zipfile.ZipFile("tiny.odt", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.text", compress_type=zipfile.ZIP_STORED)
    z.writestr("content.xml", "<office:document-content>" + "text " * 200 + "</office:document-content>")
import sqlite3
db = sqlite3.connect("tiny.sqlite")
db.execute("create table t(a text)")
db.executemany("insert into t values (?)", [("row %d" % i,) for i in range(300)])
db.commit()
PY
mkdir -p member && printf 'first member\n' > member/a.txt && head -c 3000 /dev/urandom > member/b.bin
tar --format=gnu -cf tiny.tar member && 7zz a -bd -bso0 tiny.7z member >/dev/null && rm -r member

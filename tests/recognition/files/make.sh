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
ff -f lavfi -i testsrc2=size=64x48:rate=10 -f lavfi -i sine=frequency=330:sample_rate=48000 -t 0.3 -c:v mpeg2video -c:a mp2 -f vob second.vob
ff -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 0.4 -c:v mpeg1video -c:a mp2 -f mpeg tiny.mpg
ff -f lavfi -i sine=frequency=440:sample_rate=22050 -t 0.5 -c:a wmav2 -b:a 32k -f asf tiny.wma
ff -f lavfi -i testsrc2=size=64x48:rate=10 -t 0.5 -c:v wmv2 -f asf tiny.wmv
ff -f lavfi -i sine=frequency=440:sample_rate=16000 -t 1 -c:a libopus -b:a 16k tiny.opus
ff -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -b:a 32k -metadata title=Tiny tagged.mp3
ff -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -b:a 32k -id3v2_version 0 -write_xing 0 raw.mp3
# FLAC: stereo with silence (constant subframes), a tone and full-scale noise; 24-bit mono; and a
# stream written to a pipe, whose STREAMINFO counts no samples.
ff -f lavfi -i "aevalsrc=if(lt(t\,0.15)\,0\,0.5*sin(440*2*PI*t))|0.6*(random(0)*2-1)*gt(t\,0.3):s=22050:d=0.5" -c:a flac tiny.flac
ff -f lavfi -i "aevalsrc=0.7*sin(330*2*PI*t)+0.01*random(1):s=16000:d=0.3" -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 mono24.flac
ff -f lavfi -i sine=frequency=440:sample_rate=16000:duration=0.4 -c:a flac -f flac - > streamed.flac
# 200 frames of 64 samples: frame numbers of one byte past 63 and of two bytes past 127.
ff -f lavfi -i sine=frequency=440:sample_rate=8000:duration=1.6 -c:a flac -frame_size 64 frames.flac
convert -size 64x48 plasma:fractal -seed 3 -quality 80 tiny.jpg
convert -size 16x12 plasma:fractal -seed 4 thumb.jpg
exiftool -q -overwrite_original -Make=Tessarin "-ThumbnailImage<=thumb.jpg" tiny.jpg && rm thumb.jpg
convert -size 32x24 plasma:fractal -seed 5 tiny.png
convert -size 32x24 plasma:fractal -seed 6 -colors 16 tiny.gif
convert -size 32x24 plasma:fractal -seed 7 tiny.tif
convert -size 32x24 plasma:fractal -seed 8 tiny.webp
convert -size 32x24 plasma:fractal -seed 9 -compress RLE tiny.psd
convert -size 32x24 plasma:fractal -seed 9 -compress None raw.psd
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

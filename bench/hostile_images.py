#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Plain images of hostile data for the bounds of the end finders and of the scan's structure
following: chains of headers over every sector, directories of huge value arrays, decoders told
to hold gigabytes, decompression bombs. Each image is written to the folder given (default
/tmp/hostile); time a scan of each with /usr/bin/time -v, see README.md.

    bench/hostile_images.py [FOLDER]
"""
import os
import struct
import subprocess
import sys
import zlib

SECTOR = 2048


def write(folder, name, data):
    data += b"\0" * (-len(data) % SECTOR)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    print(f"{name}: {len(data)} bytes")


def mp4_chain(sectors):
    # Every sector starts an "ftyp" box; a "free" box after it reaches into the next sector,
    # where the next sector's "free" box goes on: a walk from any sector runs to the end.
    sector = struct.pack(">I4s4sI4s", 24, b"ftyp", b"isom", 0, b"isom") + b"mp41"
    sector += struct.pack(">I4s", SECTOR, b"free")
    return (sector + b"\0" * (SECTOR - len(sector))) * sectors


def zip_chain(sectors):
    # A local header at each sector's start and at byte 100; each member's data reaches the
    # header at byte 100 of the next sector.
    def local(size):
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, 0, size, size, 1, 0) + b"a"
    first = local(SECTOR + 100 - 31)
    second = local(SECTOR - 31)
    sector = first + b"\0" * (100 - len(first)) + second
    return (sector + b"\0" * (SECTOR - len(sector))) * sectors


def ogg_page(flags, serial, sequence, body):
    segments = []
    n = body
    while n >= 255:
        segments.append(255)
        n -= 255
    segments.append(n)
    return struct.pack("<4sBBqIIIB", b"OggS", 0, flags, 0, serial, sequence, 0, len(segments)) + bytes(segments)


def ogg_chain(sectors):
    # A first page at each sector's start, and a page at byte 200 whose body reaches byte 200 of
    # the next sector: no stream ever ends.
    head = ogg_page(2, 1, 0, 200 - 28)
    body = SECTOR - 27 - 8
    page = ogg_page(0, 1, 1, body)
    assert len(head) == 28 and len(page) + body == SECTOR
    sector = head + b"\0" * (200 - len(head)) + page
    return (sector + b"\0" * (SECTOR - len(sector))) * sectors


def pdf_chain(sectors):
    # PDFs without an end-of-file marker, one per sector.
    sector = b"%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n"
    return (sector + b" " * (SECTOR - len(sector))) * sectors


def tiff_subifds(copies):
    # One directory of 4,096 SubIFD entries of 65,536 values each, all of them one array.
    entries = 4096
    values = 8 + 2 + 12 * entries + 4
    one = b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", entries)
    one += struct.pack("<HHII", 330, 4, 65536, values) * entries + struct.pack("<I", 0)
    one += b"".join(struct.pack("<I", 16 + 4 * i) for i in range(65536))
    one += b"\0" * (-len(one) % SECTOR)
    return one * copies


def run(args, data):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


def text(size):
    words = [b"recovered", b"disc", b"sector", b"file", b"stream", b"header", b"volume", b"image"]
    out = bytearray()
    x = 12345
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[x >> 16 & 7] + (b" " if x & 0x30 else b"\n")
        out += bytes([(x >> 8) & 0xFF])
    return bytes(out[:size])


def xz_dictionary(xz, props):
    # The block header's LZMA2 property byte is set to Props (40: 4 GiB) and the header's CRC-32
    # made right again.
    xz = bytearray(xz)
    at = 12
    size = (xz[at] + 1) * 4
    header = xz[at:at + size]
    i = header.find(bytes([0x21, 0x01]))
    header[i + 2] = props
    header[-4:] = struct.pack("<I", zlib.crc32(bytes(header[:-4])))
    xz[at:at + size] = header
    return bytes(xz)


def zeros_through(command, gigabytes):
    # Zeros piped into a compressor, so that they never sit in memory.
    source = subprocess.Popen(["head", "-c", f"{gigabytes}G", "/dev/zero"], stdout=subprocess.PIPE)
    out = subprocess.run(command, stdin=source.stdout, stdout=subprocess.PIPE, check=True).stdout
    source.wait()
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "/tmp/hostile"
    os.makedirs(folder, exist_ok=True)
    for n in (1000, 2000, 4000):
        write(folder, f"mp4-chain-{n}.img", mp4_chain(n))
    for n in (2000, 4000):
        write(folder, f"zip-chain-{n}.img", zip_chain(n))
        write(folder, f"ogg-chain-{n}.img", ogg_chain(n))
    for n in (2000, 4000, 8000):
        write(folder, f"pdf-chain-{n}.img", pdf_chain(n))
    write(folder, "tiff-subifds-1.img", tiff_subifds(1))
    write(folder, "tiff-subifds-2.img", tiff_subifds(2))
    # 4 GiB of zeros in 610 KB, with a dictionary of 4 GiB that the decoder fills.
    write(folder, "xz-dict-4g.img", xz_dictionary(zeros_through(["xz", "-0", "-T1", "-c"], 4), 40))
    # A window of 1 GiB: zstd keeps it for a stream of unknown size (read from a pipe).
    write(folder, "zstd-long30.img", run(["zstd", "-q", "--long=30", "-c", "-"], text(4 << 20)))
    write(folder, "bzip2-bombs.img", zeros_through(["bzip2", "-9", "-c"], 1) * 16)
    write(folder, "gzip-bomb.img", zeros_through(["gzip", "-9", "-c"], 1))
    write(folder, "xz-bomb.img", zeros_through(["xz", "-9", "-c"], 1))
    write(folder, "zstd-bomb.img", zeros_through(["zstd", "-q", "-19", "-c", "-"], 1))

if __name__ == "__main__":
    main()

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Helper of bench/modern_files.sh: makes the documents, archives and databases, gathers the
files under mixed numbers, zeroes an ISO image's metadata, and scores what each tool recovered.
  modern_files.py make SRC | gather SRC FILES | zero IMAGE LBA_REPORT | score FILES NAME=DIR..."""
import io, os, random, re, shutil, sqlite3, struct, sys, zipfile

SECTOR = 2048


def zip_package(path, first, members, level=zipfile.ZIP_DEFLATED):
    """A ZIP whose first member (name, bytes) is stored, as OpenDocument and EPUB need."""
    with zipfile.ZipFile(path, "w") as z:
        if first:
            z.writestr(zipfile.ZipInfo(first[0]), first[1], compress_type=zipfile.ZIP_STORED)
        for name, data in members:
            z.writestr(name, data, compress_type=level)


def text(rnd, words):
    vocab = "disc file recovery sector image found whole exact padded lost data modern format".split()
    return " ".join(rnd.choice(vocab) for _ in range(words))


def make_documents(src, rnd):
    import docx, openpyxl
    pics = [open(os.path.join(src, f"picture{i}.png"), "rb").read() for i in (1, 2)]
    photo = open(os.path.join(src, "photo7.jpg"), "rb").read()
    for i in range(1, 4):
        d = docx.Document()
        d.add_heading(f"Report {i}", 0)
        for _ in range(40 * i):
            d.add_paragraph(text(rnd, 60))
        d.add_picture(io.BytesIO(pics[i % 2]))
        d.save(os.path.join(src, f"report{i}.docx"))
        wb = openpyxl.Workbook()
        ws = wb.active
        for r in range(1, 400 * i):
            ws.append([rnd.random() * 1000 for _ in range(12)])
        wb.save(os.path.join(src, f"sheet{i}.xlsx"))
    types = b'<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'
    for i in range(1, 3):
        zip_package(os.path.join(src, f"slides{i}.pptx"), None, [
            ("[Content_Types].xml", types), ("_rels/.rels", b"<Relationships/>"),
            ("ppt/presentation.xml", text(rnd, 500).encode()),
            ("ppt/slides/slide1.xml", text(rnd, 3000).encode()), ("ppt/media/image1.png", pics[i % 2])])
    for name, kind, n in (("letter", "text", 2), ("budget", "spreadsheet", 2), ("talk", "presentation", 1)):
        ext = {"text": "odt", "spreadsheet": "ods", "presentation": "odp"}[kind]
        for i in range(1, n + 1):
            zip_package(os.path.join(src, f"{name}{i}.{ext}"),
                        ("mimetype", f"application/vnd.oasis.opendocument.{kind}".encode()),
                        [("content.xml", text(rnd, 8000 * i).encode()), ("styles.xml", text(rnd, 2000).encode()),
                         ("Pictures/p.png", pics[i % 2]), ("META-INF/manifest.xml", b"<manifest/>")])
    for i in range(1, 3):
        zip_package(os.path.join(src, f"book{i}.epub"), ("mimetype", b"application/epub+zip"),
                    [("META-INF/container.xml", b"<container/>"), ("OEBPS/content.opf", b"<package/>")] +
                    [(f"OEBPS/ch{c}.xhtml", text(rnd, 5000).encode()) for c in range(8 * i)])
    zip_package(os.path.join(src, "tool.jar"), None, [("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n\r\n")] +
                [(f"org/example/C{c}.class", b"\xca\xfe\xba\xbe" + rnd.randbytes(3000)) for c in range(40)])
    zip_package(os.path.join(src, "app.apk"), None, [("AndroidManifest.xml", rnd.randbytes(3000)),
                ("classes.dex", b"dex\n035\0" + rnd.randbytes(200000)), ("resources.arsc", rnd.randbytes(40000)),
                ("res/drawable/icon.png", pics[0]), ("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\n")])
    zip_package(os.path.join(src, "data.zip"), None, [(f"d/{c}.bin", rnd.randbytes(rnd.randrange(1000, 300000))) for c in range(30)])
    zip_package(os.path.join(src, "texts.zip"), None, [(f"t/{c}.txt", text(rnd, 20000).encode()) for c in range(10)])
    zip_package(os.path.join(src, "photos.zip"), None, [("a.jpg", photo), ("b.png", pics[0])], zipfile.ZIP_STORED)
    make_pdfs(src, rnd, photo)
    for i in range(1, 3):
        path = os.path.join(src, f"catalog{i}.sqlite")
        db = sqlite3.connect(path)
        db.execute("create table item(id integer primary key, name text, data blob)")
        db.executemany("insert into item(name, data) values (?, ?)",
                       [(text(rnd, 8), rnd.randbytes(200)) for _ in range(6000 * i)])
        db.commit()
        db.close()


def pdf(objects, trailer_root=1):
    """A PDF of the given object bodies with its cross-reference table."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for n, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, trailer_root, xref)
    return out


def make_pdfs(src, rnd, photo):
    def page(content, extra=b""):
        stream = b"BT /F1 12 Tf 72 720 Td (" + content + b") Tj ET" + extra
        return [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream"]
    for i in range(1, 3):
        open(os.path.join(src, f"paper{i}.pdf"), "wb").write(pdf(page(text(rnd, 30000 * i).encode())))
    # An incremental update: a second revision after the first one's end-of-file marker.
    first = pdf(page(b"first revision " + text(rnd, 20000).encode()))
    update = b"5 0 obj\n<< /Info (updated) >>\nendobj\nxref\n5 1\n%010d 00000 n \ntrailer\n<< /Size 6 /Root 1 0 R /Prev 9 >>\nstartxref\n%d\n%%%%EOF\n"
    at = len(first)
    open(os.path.join(src, "revised.pdf"), "wb").write(first + update % (at, at + 40))
    img = b"<< /Type /XObject /Subtype /Image /Width 4000 /Height 3000 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % len(photo)
    open(os.path.join(src, "brochure.pdf"), "wb").write(pdf(page(b"picture") + [img + photo + b"\nendstream"]))


def gather(src, dest):
    skip = {"thumb.jpg", "dvd.mpg"}
    names = sorted(n for n in os.listdir(src) if os.path.isfile(os.path.join(src, n)) and n not in skip)
    random.Random(7).shuffle(names)
    for k, n in enumerate(names, 1):
        shutil.copyfile(os.path.join(src, n), os.path.join(dest, f"{k:03}_{n}"))


def zero(image, report):
    """Zeroes every sector that holds no file data: the volume descriptors, path tables and
    directories, as a disc whose file system was destroyed."""
    keep = bytearray(os.path.getsize(image) // SECTOR)
    for line in open(report):
        m = re.match(r"File data lba:\s*\d+\s*,\s*(\d+)\s*,\s*(\d+)\s*,", line)
        if m:
            start, blocks = int(m.group(1)), int(m.group(2))
            keep[start:start + blocks] = b"\1" * blocks
    zeros = bytes(SECTOR)
    with open(image, "r+b") as f:
        for s, k in enumerate(keep):
            if not k:
                f.seek(s * SECTOR)
                f.write(zeros)


def fmt(name):
    base = name.split("_", 1)[1].lower()
    if base.endswith((".efi", ".stub")):
        return "pe"
    if "." not in base or ".so" in base:
        return "elf"
    if base.endswith((".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst")):
        return "tar." + base.rsplit(".", 1)[1]
    return base.rsplit(".", 1)[1]


def score(files, tools):
    originals = {n: open(os.path.join(files, n), "rb").read() for n in sorted(os.listdir(files))}
    by_head = {}
    for n, data in originals.items():
        by_head.setdefault(data[:64], []).append(n)
    rows = {}
    for spec in tools:
        tool, folder = spec.split("=", 1)
        best = {}  # original -> (rank, label)
        false_count = false_bytes = 0
        for dirpath, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(dirpath, name)
                data = open(path, "rb").read()
                match = None
                for n in by_head.get(data[:64], []) + [n for n, o in originals.items() if len(o) < 64 and data.startswith(o)]:
                    o = originals[n]
                    k = min(len(o), len(data))
                    if data[:k] == o[:k] and k >= min(len(o), 512):
                        match = n
                        label = ("exact", 3) if data == o else ("padded", 2) if len(data) > len(o) else ("cut", 1)
                        if best.get(n, (None, 0))[1] < label[1]:
                            best[n] = label
                if match is None:
                    false_count += 1
                    false_bytes += len(data)
        rows[tool] = (best, false_count, false_bytes)
    formats = sorted({fmt(n) for n in originals})
    print("\nper format: files, then whole (exact+padded) / exact / cut / missing for each tool")
    print(f"{'format':10} {'files':>5}  " + "  ".join(f"{t:>22}" for t in rows))
    for f in formats:
        names = [n for n in originals if fmt(n) == f]
        cells = []
        for tool, (best, _, _) in rows.items():
            labels = [best.get(n, ("missing", 0))[0] for n in names]
            e, p, c = labels.count("exact"), labels.count("padded"), labels.count("cut")
            cells.append(f"{e + p:>4} /{e:>3} /{c:>3} /{labels.count('missing'):>3}  ")
        print(f"{f:10} {len(names):>5}  " + "  ".join(f"{c:>22}" for c in cells))
    print(f"\n{'tool':12} {'files':>5} {'whole':>6} {'exact':>6} {'padded':>7} {'cut':>4} {'missing':>8} {'false entries':>14}")
    for tool, (best, fc, fb) in rows.items():
        labels = [best.get(n, ("missing", 0))[0] for n in originals]
        e, p = labels.count("exact"), labels.count("padded")
        print(f"{tool:12} {len(originals):>5} {e + p:>6} {e:>6} {p:>7} {labels.count('cut'):>4} {labels.count('missing'):>8} "
              f"{fc:>5} ({fb / 1e6:.1f} MB)")
    missing = {t: [n for n in originals if n not in best] for t, (best, _, _) in rows.items()}
    for t, names in missing.items():
        print(f"{t} missing: {' '.join(names) if names else '-'}")
    for t, (best, _, _) in rows.items():
        print(f"{t} cut or padded: {' '.join(n for n, l in best.items() if l[0] != 'exact') or '-'}")


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "make":
        make_documents(sys.argv[2], random.Random(20261207))
    elif cmd == "gather":
        gather(sys.argv[2], sys.argv[3])
    elif cmd == "zero":
        zero(sys.argv[2], sys.argv[3])
    elif cmd == "score":
        score(sys.argv[2], sys.argv[3:])

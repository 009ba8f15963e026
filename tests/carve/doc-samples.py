#!/usr/bin/env python3
"""Writes the document, archive, database and text samples the validator tests read, with a
manifest: one line per sample, tab-separated: file, type (extension), end (bytes the structure
gives), offset of the 4 KiB cluster the test spoils, whether a cut must be damaged, title."""
import gzip
import io
import os
import random
import sqlite3
import struct
import sys
import zipfile
import zlib

OUT = sys.argv[1]
rng = random.Random(30)
manifest = []


def words(n):
    vocab = ["ledger", "harbour", "quarterly", "north", "växjö", "résumé", "delta", "report",
             "cluster", "märz", "octave", "kelp", "σ", "plan", "river", "engine"]
    return " ".join(rng.choice(vocab) for _ in range(n))


def noise(n):
    return rng.randbytes(n)


def add(name, data, kind, spoil, title="", end=None, cut=True):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
    manifest.append(f"{name}\t{kind}\t{len(data) if end is None else end}\t{spoil}\t"
                    f"{int(cut)}\t{title}")


def zipped(entries, **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", **kw) as z:
        for name, data, method in entries:
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)), data, compress_type=method)
    return buf.getvalue()


D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
core = ('<?xml version="1.0"?><cp:coreProperties xmlns:cp="x" xmlns:dc="y">'
        '<dc:title>Quarterly report &amp; plan</dc:title></cp:coreProperties>')


def office(part, title_xml):
    return [("[Content_Types].xml", "<Types/>", D), ("_rels/.rels", "<Relationships/>", D),
            ("docProps/core.xml", title_xml, D),
            (part, "<doc>" + words(3000) + "</doc>", D), ("media/image1.bin", noise(9000), S)]


add("plain.zip", zipped([("a.txt", words(2000), D), ("b.bin", noise(12000), S),
                         ("c.txt", words(3000), D)]), "zip", 8192)
add("empty.zip", zipped([]), "zip", 0)
add("report.docx", zipped(office("word/document.xml", core)), "docx", 8192,
    "Quarterly report & plan")
add("sheet.xlsx", zipped(office("xl/workbook.xml", core.replace("Quarterly report &amp; plan",
                                                                "Budget 2026"))), "xlsx", 8192,
    "Budget 2026")
add("deck.pptx", zipped(office("ppt/presentation.xml", core.replace(
    "Quarterly report &amp; plan", "Launch &lt;v2&gt; &#233;t&#xE9;"))), "pptx", 8192,
    "Launch <v2> été")
add("notes.odt", zipped([("mimetype", "application/vnd.oasis.opendocument.text", S),
                         ("content.xml", "<office>" + words(3000) + "</office>", D),
                         ("meta.xml", "<meta><dc:title>Minutes of the board</dc:title></meta>", D),
                         ("Pictures/p.bin", noise(9000), S)]), "odt", 8192, "Minutes of the board")
add("book.epub", zipped([("mimetype", "application/epub+zip", S),
                         ("OEBPS/content.opf",
                          '<package><metadata><dc:title id="t">Sea &#x26; Sky</dc:title>'
                          '</metadata></package>', D),
                         ("OEBPS/ch1.xhtml", "<p>" + words(3000) + "</p>", D),
                         ("OEBPS/cover.bin", noise(9000), S)]), "epub", 8192, "Sea & Sky")


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in: its entries get data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


raw = Unseekable()
with zipfile.ZipFile(raw, "w") as z:
    for name, size in (("d1.txt", 3000), ("d2.txt", 4000)):
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.compress_type = D
        with z.open(info, "w", force_zip64=True) as f:
            f.write(words(size).encode())
add("stream64.zip", bytes(raw.data), "zip", 4096)


def pdf(objects, title_obj, extra=None):
    """objects: bodies of objects 1..n; an update (list of (num, body), the first the new
    information dictionary) appended when given."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, title_obj, xref)
    if extra:
        upd = []
        for num, body in extra:
            upd.append((num, len(out)))
            out += b"%d 0 obj\n" % num + body + b"\nendobj\n"
        x2 = len(out)
        out += b"xref\n0 1\n0000000000 65535 f \n"
        for num, off in upd:
            out += b"%d 1\n%010d 00000 n \n" % (num, off)
        out += b"trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (
            max(n for n, _ in extra) + 1, extra[0][0], xref, x2)
    return bytes(out)


def stream(data):
    z = zlib.compress(data)
    return b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(z) + z + b"\nendstream"


pages = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         b"<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>",
         stream(words(2500).encode() + noise(9000)),
         b"<< /Producer (orlavent tests) /Title (Annual \\(draft\\) r\\351sum\\351) >>"]
add("annual.pdf", pdf(pages, 5), "pdf", 4096, "Annual (draft) résumé")
utf16 = ("<FEFF" + "Ωmega plan".encode("utf-16-be").hex().upper() + ">").encode()
updated = pdf(pages, 5, [(6, b"<< /Title " + utf16 + b" >>"), (7, stream(noise(6000)))])
add("updated.pdf", updated, "pdf", 4096, "Ωmega plan")

def pdf_xref_stream(objects, title_obj):
    """A PDF 1.5 whose cross-reference section is a stream: rows of /W [1 4 2], PNG Up
    predictor, deflated."""
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    num = len(objects) + 1
    offsets.append(len(out))
    rows = [struct.pack(">BIH", 0, 0, 65535)] + [struct.pack(">BIH", 1, o, 0) for o in offsets]
    data, prev = b"", bytes(7)
    for row in rows:
        data += b"\x02" + bytes((a - b) & 0xFF for a, b in zip(row, prev))
        prev = row
    z = zlib.compress(data)
    out += (b"%d 0 obj\n<< /Type /XRef /Size %d /W [1 4 2] /Root 1 0 R /Info %d 0 R "
            b"/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 7 >> /Length %d >>\n"
            b"stream\n" % (num, num + 1, title_obj, len(z))) + z + b"\nendstream\nendobj\n"
    out += b"startxref\n%d\n%%%%EOF\n" % offsets[-1]
    return bytes(out)


add("modern.pdf", pdf_xref_stream(pages, 5), "pdf", 4096, "Annual (draft) résumé")

db_path = os.path.join(OUT, "tmp.sqlite")
con = sqlite3.connect(db_path)
con.execute("PRAGMA page_size=4096")
con.execute("PRAGMA synchronous=OFF")
con.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, body TEXT)")
con.execute("CREATE INDEX tb ON t(body)")
con.executemany("INSERT INTO t(body) VALUES (?)", [(words(20),) for _ in range(800)])
con.commit()
con.close()
with open(db_path, "rb") as f:
    db = f.read()
os.remove(db_path)
add("data.sqlite", db, "sqlite", 8192)

member = gzip.compress(words(6000).encode(), mtime=0)
named = io.BytesIO()
with gzip.GzipFile("notes.txt", "wb", fileobj=named, mtime=0) as g:
    g.write(noise(5000) + words(1000).encode())
add("two.gz", named.getvalue() + member, "gz", 4096)

packed = noise(9000)
header = bytes([0x01, 0x04, 0x06, 0x00, 0x01, 0x09]) + bytes(40) + b"\x00"
start = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
add("archive.7z", b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(start)) + start +
    packed + header, "7z", 8192)

body = []
while sum(map(len, body)) < 12000:
    body.append("\\par " + words(12).replace("σ", "\\u963?") + " \\{braced\\} c:\\\\dir\n")
blob = b"{\\*\\blipdata \\bin6 }\x00{\x01\\ }"
rtf = ("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\f0 " + "".join(body[:4])).encode("latin-1", "replace")
rtf += blob + "".join(body[4:]).encode("latin-1", "replace") + b"}"
add("letter.rtf", rtf, "rtf", 4096)

text = (words(2500) + "\n\tend\f\r\n").encode()
add("story.txt", text, "txt", 8192, cut=False)
add("padded.txt", text[:5000] + bytes(3192), "txt", 4096, end=5000, cut=False)


def summary(title):
    """A summary information property set with a code page and a title in Windows-1252."""
    text = title.encode("cp1252") + b"\0"
    text += bytes(-len(text) % 4)
    props = struct.pack("<IhH", 2, 1252, 0) + struct.pack("<II", 0x1E, len(title) + 1) + text
    body = struct.pack("<II", 8 + 16 + len(props), 2) + struct.pack("<IIII", 1, 24, 2, 32) + props
    fmtid = bytes.fromhex("E0859FF2F94F6810AB9108002B27B3D9")
    return struct.pack("<HHI", 0xFFFE, 0, 0x20A) + bytes(16) + struct.pack("<I", 1) + fmtid + \
        struct.pack("<I", 48) + body


def ole2(title):
    """A version 3 compound file: header, a 'WordDocument' stream of 40 sectors, the FAT, the
    directory, the mini FAT and the mini stream holding the summary information, in sectors 40
    to 43."""
    data = words(3000).encode()[:40 * 512].ljust(40 * 512, b" ")
    info = summary(title)
    fat = list(range(1, 40)) + [0xFFFFFFFE, 0xFFFFFFFD] + [0xFFFFFFFE] * 3
    fat += [0xFFFFFFFF] * (128 - len(fat))
    hdr = bytearray(512)
    hdr[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", hdr, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIII", hdr, 0x2C, 1, 41, 0, 4096, 42, 1, 0xFFFFFFFE, 0)
    struct.pack_into("<I", hdr, 0x4C, 40)
    for i in range(1, 109):
        struct.pack_into("<I", hdr, 0x4C + 4 * i, 0xFFFFFFFF)

    def entry(name, kind, start, size, child=0xFFFFFFFF, right=0xFFFFFFFF):
        e = bytearray(128)
        n = (name + "\0").encode("utf-16-le")
        e[0:len(n)] = n
        struct.pack_into("<HBB", e, 0x40, len(n), kind, 1)
        struct.pack_into("<III", e, 0x44, 0xFFFFFFFF, right, child)
        struct.pack_into("<II", e, 0x74, start, size)
        return e

    minis = (len(info) + 63) // 64
    dirs = entry("Root Entry", 5, 43, minis * 64, child=1) + \
        entry("WordDocument", 2, 0, len(data), right=2) + \
        entry("\x05SummaryInformation", 2, 0, len(info)) + bytes(128)
    minifat = list(range(1, minis)) + [0xFFFFFFFE]
    minifat += [0xFFFFFFFF] * (128 - len(minifat))
    return bytes(hdr) + data + struct.pack("<128I", *fat) + dirs + \
        struct.pack("<128I", *minifat) + info.ljust(512, b"\0")


add("memo.doc", ole2("Board memo – März"), "doc", 20480, "Board memo – März")

with open(os.path.join(OUT, "manifest.txt"), "w", encoding="utf-8") as f:
    f.write("\n".join(manifest) + "\n")

#!/usr/bin/env python3
"""Writes a folder of files of known content for the carving tests and benchmarks.

    carve_content.py OUTDIR [--sets N] [--seed S] [--fill BYTES]

One set is 34 files, named "NN-what.ext" so that their sorted order is the order a recipe
writes them in: JPEG photos (JFIF and EXIF with a date taken, progressive, with restart
markers, 160x120 to 2048x1536), PNG, GIF, BMP, two PDFs written here (one with an incremental
update), DOCX, XLSX, ODT and ZIP archives (zipfile), a SQLite database (sqlite3), a GZIP file,
a WAV, an MP3 with an ID3v2 tag, an MP4 (ISO boxes), UTF-8 texts and random data (the files
named "noise-*.bin": no carving can know where they end). With --sets N, N sets are written,
each under the prefix "sNN-" and with contents of its own; --fill BYTES adds to each set a file
"35-noise-fill.bin" of that many random bytes (a fuller card for the benchmarks).

Pictures come from ImageMagick's convert (plasma fractals, seeded) and jpegtran
(restart markers); everything else is made here from the standard library. The output depends
only on the seed and the tools' versions.
"""
import argparse
import gzip
import io
import math
import os
import random
import sqlite3
import struct
import subprocess
import sys
import tempfile
import zipfile

ZIP_TIME = (2024, 3, 14, 9, 26, 52)
WORDS = ("report quarter revenue growth the of and to in meeting plan card photo camera "
         "holiday river mountain budget forecast invoice customer delivery schedule notes "
         "summary coffee garden Zürich café naïve über façade déjà—vu résumé 東京 καλημέρα").split()


def text_lines(rng, size, tag):
    """UTF-8 text of at least size bytes, cut at a line end."""
    out, n = [], 0
    while n < size:
        line = f"{tag} {len(out) + 1:04d}: " + " ".join(rng.choice(WORDS) for _ in range(12))
        out.append(line + "\n")
        n += len(out[-1].encode())
    return "".join(out).encode()


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def picture(seed, size, fmt, extra=()):
    """A seeded plasma fractal of size "WxH" in format fmt (an ImageMagick coder), as bytes."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out." + fmt)
        run(["convert", "-seed", str(seed), "-size", size, "plasma:fractal", "-strip", "-depth",
             "8", *extra, f"{fmt}:{out}"])
        with open(out, "rb") as f:
            return f.read()


def exif_segment(date, model):
    """An APP1 EXIF segment: IFD0 with Make, Model, DateTime and the EXIF IFD's offset; the
    EXIF IFD with DateTimeOriginal and DateTimeDigitized."""
    make = b"Orlavent\0"
    model = model.encode() + b"\0"
    stamp = date.encode() + b"\0"
    ifd0, n0 = 8, 4
    data0 = ifd0 + 2 + n0 * 12 + 4
    make_at, model_at = data0, data0 + len(make)
    date_at = model_at + len(model)
    exif_at = date_at + len(stamp)
    n1 = 2
    data1 = exif_at + 2 + n1 * 12 + 4
    tiff = bytearray(b"II*\0" + struct.pack("<I", ifd0))
    tiff += struct.pack("<H", n0)
    tiff += struct.pack("<HHII", 0x010F, 2, len(make), make_at)
    tiff += struct.pack("<HHII", 0x0110, 2, len(model), model_at)
    tiff += struct.pack("<HHII", 0x0132, 2, len(stamp), date_at)
    tiff += struct.pack("<HHII", 0x8769, 4, 1, exif_at)
    tiff += struct.pack("<I", 0) + make + model + stamp
    tiff += struct.pack("<H", n1)
    tiff += struct.pack("<HHII", 0x9003, 2, len(stamp), data1)
    tiff += struct.pack("<HHII", 0x9004, 2, len(stamp), data1 + len(stamp))
    tiff += struct.pack("<I", 0) + stamp + stamp
    body = b"Exif\0\0" + bytes(tiff)
    return b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body


def jpeg(seed, size, quality=90, exif=None, restart=0, progressive=False):
    """A JPEG photo; exif (date, model) puts an EXIF segment in place of the JFIF one."""
    extra = ["-quality", str(quality)] + (["-interlace", "Plane"] if progressive else [])
    data = picture(seed, size, "jpg", extra)
    if restart:
        data = subprocess.run(["jpegtran", "-copy", "none", "-restart", str(restart)],
                              input=data, check=True, stdout=subprocess.PIPE).stdout
    if exif:
        rest = data[2:]
        if rest[:2] == b"\xff\xe0":  # the JFIF segment goes: a camera writes EXIF instead
            rest = rest[2 + struct.unpack(">H", rest[2:4])[0]:]
        data = b"\xff\xd8" + exif_segment(*exif) + rest
    return data


def pdf(title, pages, rng, update=False):
    """A PDF with an Info dictionary titled title, pages of text, a cross-reference table
    with the true offsets; update adds an incremental update (a second xref and %%EOF)."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}

    def obj(num, body):
        offsets[num] = len(out)
        out.extend(f"{num} 0 obj\n".encode() + body + b"\nendobj\n")

    kids = " ".join(f"{4 + 2 * i} 0 R" for i in range(pages))
    obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
    obj(2, f"<< /Type /Pages /Kids [{kids}] /Count {pages} >>".encode())
    obj(3, f"<< /Title ({title}) /Producer (carve_content) >>".encode())
    for i in range(pages):
        lines = text_lines(rng, 600, f"page {i + 1}").decode("ascii", "replace")
        ops = "BT /F1 10 Tf 40 780 Td 12 TL " + " ".join(
            "(" + line.replace("(", "").replace(")", "").replace("\\", "") + ") '"
            for line in lines.splitlines()) + " ET"
        stream = ops.encode("latin-1", "replace")
        obj(4 + 2 * i, f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents "
                       f"{5 + 2 * i} 0 R /Resources << /Font << /F1 {4 + 2 * pages} 0 R >> >> >>"
            .encode())
        obj(5 + 2 * i, f"<< /Length {len(stream)} >>\nstream\n".encode() + stream +
            b"\nendstream")
    obj(4 + 2 * pages, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    count = 5 + 2 * pages

    def xref(first, nums, prev=None):
        at = len(out)
        out.extend(b"xref\n")
        if first == 0:
            out.extend(f"0 {len(nums) + 1}\n0000000000 65535 f \n".encode())
        for n in nums:
            if first != 0:
                out.extend(f"{n} 1\n".encode())
            out.extend(f"{offsets[n]:010d} 00000 n \n".encode())
        extra = f" /Prev {prev}" if prev is not None else ""
        out.extend(f"trailer\n<< /Size {count} /Root 1 0 R /Info 3 0 R{extra} >>\n"
                   f"startxref\n{at}\n%%EOF\n".encode())
        return at

    first = xref(0, list(range(1, count)))
    if update:
        obj(3, f"<< /Title ({title}) /Producer (carve_content) /ModDate "
               f"(D:20240315101500Z) >>".encode())
        xref(3, [3], prev=first)
    return bytes(out)


def zip_bytes(members, stored_first=None):
    """A ZIP archive of (name, bytes) members, deflated, with fixed times; stored_first is a
    (name, bytes) member written first and stored (the ODF mimetype)."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        if stored_first:
            z.writestr(zipfile.ZipInfo(stored_first[0], ZIP_TIME), stored_first[1],
                       compress_type=zipfile.ZIP_STORED)
        for name, data in members:
            z.writestr(zipfile.ZipInfo(name, ZIP_TIME), data, compress_type=zipfile.ZIP_DEFLATED)
    return buf.getvalue()


def core_xml(title):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/'
            'metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/">'
            f"<dc:title>{title}</dc:title><dc:creator>Orlavent tests</dc:creator>"
            "</cp:coreProperties>").encode()


def rels(target, kind):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<Relationships xmlns="http://schemas.'
            'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="'
            'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
            f'{kind}" Target="{target}"/><Relationship Id="rId2" Type="http://schemas.'
            'openxmlformats.org/package/2006/relationships/metadata/core-properties" '
            'Target="docProps/core.xml"/></Relationships>').encode()


def content_types(part, mime):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<Types xmlns="http://schemas.'
            'openxmlformats.org/package/2006/content-types"><Default Extension="rels" '
            'ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            f'<Override PartName="/{part}" ContentType="{mime}"/></Types>').encode()


def docx(title, rng):
    paras = "".join(f"<w:p><w:r><w:t>{line}</w:t></w:r></w:p>"
                    for line in text_lines(rng, 3000, "para").decode().splitlines())
    doc = ('<?xml version="1.0" encoding="UTF-8"?>\n<w:document xmlns:w="http://schemas.'
           'openxmlformats.org/wordprocessingml/2006/main"><w:body>'
           f"{paras}</w:body></w:document>").encode()
    return zip_bytes([
        ("[Content_Types].xml", content_types("word/document.xml", "application/vnd."
         "openxmlformats-officedocument.wordprocessingml.document.main+xml")),
        ("_rels/.rels", rels("word/document.xml", "officeDocument")),
        ("word/document.xml", doc),
        ("docProps/core.xml", core_xml(title)),
    ])


def xlsx(title, rng):
    rows = "".join(f'<row r="{r}"><c r="A{r}"><v>{rng.randint(0, 99999)}</v></c>'
                   f'<c r="B{r}"><v>{rng.random():.6f}</v></c></row>' for r in range(1, 200))
    sheet = ('<?xml version="1.0" encoding="UTF-8"?>\n<worksheet xmlns="http://schemas.'
             f'openxmlformats.org/spreadsheetml/2006/main"><sheetData>{rows}</sheetData>'
             "</worksheet>").encode()
    book = ('<?xml version="1.0" encoding="UTF-8"?>\n<workbook xmlns="http://schemas.'
            'openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.'
            'org/officeDocument/2006/relationships"><sheets><sheet name="Budget" sheetId="1" '
            'r:id="rId1"/></sheets></workbook>').encode()
    return zip_bytes([
        ("[Content_Types].xml", content_types("xl/workbook.xml", "application/vnd."
         "openxmlformats-officedocument.spreadsheetml.sheet.main+xml")),
        ("_rels/.rels", rels("xl/workbook.xml", "officeDocument")),
        ("xl/workbook.xml", book),
        ("xl/_rels/workbook.xml.rels", rels("worksheets/sheet1.xml", "worksheet")),
        ("xl/worksheets/sheet1.xml", sheet),
        ("docProps/core.xml", core_xml(title)),
    ])


def odt(title, rng):
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:dc="http://purl.org/dc/elements/1.1/"')
    paras = "".join(f"<text:p>{line}</text:p>"
                    for line in text_lines(rng, 2500, "minute").decode().splitlines())
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {ns} '
               f'office:version="1.2"><office:body><office:text>{paras}</office:text>'
               "</office:body></office:document-content>").encode()
    meta = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-meta {ns} '
            f'office:version="1.2"><office:meta><dc:title>{title}</dc:title></office:meta>'
            "</office:document-meta>").encode()
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n<manifest:manifest xmlns:manifest='
                '"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/'
                'vnd.oasis.opendocument.text"/><manifest:file-entry manifest:full-path='
                '"content.xml" manifest:media-type="text/xml"/><manifest:file-entry '
                'manifest:full-path="meta.xml" manifest:media-type="text/xml"/>'
                "</manifest:manifest>").encode()
    return zip_bytes([("content.xml", content), ("meta.xml", meta),
                      ("META-INF/manifest.xml", manifest)],
                     stored_first=("mimetype", b"application/vnd.oasis.opendocument.text"))


def sqlite_db(rng):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "db.sqlite")
        con = sqlite3.connect(path)
        con.execute("PRAGMA page_size = 4096")
        con.execute("CREATE TABLE contacts (id INTEGER PRIMARY KEY, name TEXT, note TEXT)")
        con.executemany("INSERT INTO contacts (name, note) VALUES (?, ?)",
                        [(f"contact {i}", " ".join(rng.choice(WORDS) for _ in range(20)))
                         for i in range(600)])
        con.commit()
        con.close()
        with open(path, "rb") as f:
            return f.read()


def gzip_bytes(name, data):
    buf = io.BytesIO()
    with gzip.GzipFile(filename=name, mode="wb", fileobj=buf, mtime=0) as g:
        g.write(data)
    return buf.getvalue()


def wav(seconds, tone, rate=22050):
    """A RIFF WAVE of a tone (Hz), 16-bit mono."""
    samples = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * tone * i / rate)))
                       for i in range(int(seconds * rate)))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", len(samples)) + samples
    return b"RIFF" + struct.pack("<I", len(body)) + body


def mp3(rng, frames):
    """An ID3v2.3 tag with a title, then MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, no
    padding: 417 bytes each) of random payload."""
    title = b"\0" + b"Carved tune"
    frame = b"TIT2" + struct.pack(">I", len(title)) + b"\0\0" + title
    size = len(frame)
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    out = bytearray(b"ID3\x03\x00\x00" + syncsafe + frame)
    for _ in range(frames):
        out += b"\xff\xfb\x90\x64" + rng.randbytes(417 - 4)
    return bytes(out)


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def mp4(rng, payload_bytes):
    """An ISO base media file: ftyp, moov (with mvhd) and mdat of random payload."""
    ftyp = box(b"ftyp", b"isom" + struct.pack(">I", 512) + b"isomiso2avc1mp41")
    mvhd = box(b"mvhd", struct.pack(">IIIII", 0, 0, 0, 1000, 5000) + struct.pack(">I", 0x10000)
               + struct.pack(">H", 0x100) + bytes(10) +
               struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000) + bytes(24) +
               struct.pack(">I", 2))
    moov = box(b"moov", mvhd)
    return ftyp + moov + box(b"mdat", rng.randbytes(payload_bytes))


def one_set(seed):
    """The files of one set, in the order a recipe writes them: (name, bytes)."""
    rng = random.Random(seed)
    s = seed * 100

    def exif(n):
        return (f"2023:0{1 + n % 9}:1{n % 10} 1{n % 10}:2{n % 10}:3{n % 10}", "Burst X100")

    return [
        ("01-photo-exif-small.jpg", jpeg(s + 1, "640x480", exif=exif(1))),
        ("02-notes-1.txt", text_lines(rng, 5000, "notes one")),
        ("03-frag-a.jpg", jpeg(s + 3, "1600x1200", 92, exif=exif(3))),
        ("04-chart.png", picture(s + 4, "800x600", "png")),
        ("05-photo-jfif.jpg", jpeg(s + 5, "1024x768", 85)),
        ("06-noise-1.bin", rng.randbytes(40000)),
        ("07-report.pdf", pdf("Quarterly report", 3, rng)),
        ("08-letter.docx", docx("Letter to the board", rng)),
        ("09-notes-2.txt", text_lines(rng, 9000, "notes two")),
        ("10-frag-b.jpg", jpeg(s + 10, "1600x1200", 92, exif=exif(10))),
        ("11-noise-2.bin", rng.randbytes(24000)),
        ("12-notes-3.txt", text_lines(rng, 7000, "notes three")),
        ("13-photo-restart.jpg", jpeg(s + 13, "1200x900", exif=exif(13), restart=2)),
        ("14-budget.xlsx", xlsx("Budget", rng)),
        ("15-minutes.odt", odt("Minutes", rng)),
        ("16-icon.gif", picture(s + 16, "256x256", "gif")),
        ("17-scan.bmp", picture(s + 17, "300x200", "bmp3")),
        ("18-archive.zip", zip_bytes([("a.txt", text_lines(rng, 20000, "zipped")),
                                      ("b.bin", rng.randbytes(5000))])),
        ("19-notes-4.txt", text_lines(rng, 12000, "notes four")),
        ("20-contacts.sqlite", sqlite_db(rng)),
        ("21-log.gz", gzip_bytes("log.txt", text_lines(rng, 30000, "log"))),
        ("22-tone.wav", wav(1.5, 440 + 10 * (seed % 40))),
        ("23-song.mp3", mp3(rng, 120)),
        ("24-clip.mp4", mp4(rng, 70000)),
        ("25-photo-progressive.jpg", jpeg(s + 25, "900x700", progressive=True)),
        ("26-noise-3.bin", rng.randbytes(100000)),
        ("27-invoice.pdf", pdf("Invoice 2024-117", 2, rng, update=True)),
        ("28-photo-exif-large.jpg", jpeg(s + 28, "2048x1536", exif=exif(28))),
        ("29-notes-5.txt", text_lines(rng, 3000, "notes five")),
        ("30-diagram.png", picture(s + 30, "400x300", "png")),
        ("31-photo-tiny.jpg", jpeg(s + 31, "160x120")),
        ("32-notes-6.txt", text_lines(rng, 20000, "notes six")),
        ("33-photo-restart-2.jpg", jpeg(s + 33, "800x600", exif=exif(33), restart=1)),
        ("34-noise-4.bin", rng.randbytes(64000)),
    ]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("outdir")
    ap.add_argument("--sets", type=int, default=1)
    ap.add_argument("--seed", type=int, default=30)
    ap.add_argument("--fill", type=int, default=0)
    args = ap.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    for k in range(args.sets):
        prefix = f"s{k + 1:02d}-" if args.sets > 1 else ""
        files = one_set(args.seed + k)
        if args.fill > 0:
            files.append(("35-noise-fill.bin", random.Random(-args.seed - k).randbytes(args.fill)))
        for name, data in files:
            with open(os.path.join(args.outdir, prefix + name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())

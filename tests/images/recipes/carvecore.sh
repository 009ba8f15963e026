# Files of the carved types written by real tools, one after the other from cluster boundaries,
# for the header search. Sourced by make-image.sh.
#
# carvecore_files: a raw volume of 4 KiB clusters, each file padded with zeros to a whole
# cluster, in this order: JPEG, PNG, GIF, BMP (v3), BMP (v5), TIFF (little- and big-endian),
# PDF (a writer of the recipe's own), ZIP, an EPUB-style and an OpenDocument-style container (Python's zipfile),
# SQLite (sqlite3), GZIP (gzip), WAV (Python's wave), then a text file of two clusters.
image_carvecore_files()
{
    local img=$1 dir
    dir=$(mktemp -d)
    convert -size 64x48 gradient:red-blue "$dir/01.jpg"
    convert -size 64x48 gradient:red-blue "$dir/02.png"
    convert -size 64x48 gradient:red-blue "$dir/03.gif"
    convert -size 64x48 gradient:red-blue BMP3:"$dir/04.bmp"
    convert -size 64x48 gradient:red-blue BMP:"$dir/05.bmp"
    convert -size 64x48 gradient:red-blue -define tiff:endian=lsb "$dir/06.tif"
    convert -size 64x48 gradient:red-blue -define tiff:endian=msb "$dir/07.tif"
    python3 - "$dir" <<'PY'
import sys, wave, zipfile
d = sys.argv[1]
with zipfile.ZipFile(f"{d}/09.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("readme.txt", "hello " * 200)
for name, mime in (("10.epub", "application/epub+zip"),
                   ("11.odt", "application/vnd.oasis.opendocument.text")):
    with zipfile.ZipFile(f"{d}/{name}", "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype"), mime, zipfile.ZIP_STORED)
        z.writestr("content.xml", "<doc/>", zipfile.ZIP_DEFLATED)
with wave.open(f"{d}/14.wav", "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(8000)
    w.writeframes(bytes(range(256)) * 8)
objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
pdf = bytearray(b"%PDF-1.4\n")
offsets = []
for n, body in enumerate(objs, 1):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % n + body + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
pdf += b"".join(b"%010d 00000 n \n" % o for o in offsets)
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(f"{d}/08.pdf", "wb").write(pdf)
with open(f"{d}/15.txt", "w") as t:
    t.write("".join(f"Line {i}: the quick brown fox.\n" for i in range(200)))
PY
    sqlite3 "$dir/12.sqlite" 'CREATE TABLE t(a); INSERT INTO t VALUES (1);'
    printf 'some text to compress %.0s' {1..100} | gzip -n >"$dir/13.gz"
    : >"$img"
    local f size
    for f in "$dir"/*; do
        cat "$f" >>"$img"
        size=$(stat -c %s "$img")
        truncate -s $(((size + 4095) / 4096 * 4096)) "$img"
    done
    rm -rf "$dir"
}

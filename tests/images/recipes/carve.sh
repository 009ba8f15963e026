# Volumes for carving: files written by the file system's own tools, the volume quick-formatted
# again with the same tool and geometry, so that only the files' bytes are left (and, on FAT, a
# folder the deep search finds by its entries). Sourced by make-image.sh (needs fat.sh, exfat.sh
# and ntfs.sh). Each recipe keeps the files as written in IMAGE_OUTPUT.d/ for the test to compare:
#
#   photo1.jpg, photo2.jpg, pic.png (ImageMagick), doc.zip (Python's zipfile), note.txt (text),
#   random.bin (random filler, between the others);
#   carve_fat32 (36 MiB FAT32, 512-byte clusters) also: DCIM/deep.jpg in a folder the deep search
#   finds (its clusters must not be carved as well); after the format, placed by cluster into
#   the free data region: frag.jpg in two pieces around 37 clusters of random filler, and
#   pairA.jpg and pairB.jpg interleaved (A's first half, B's first half, A's second half, B's
#   second half);
#   carve_exfat (16 MiB exFAT, 4 KiB clusters) through exfat-fuse, and carve_ntfs (16 MiB NTFS,
#   4 KiB clusters) through ntfs-3g, the three JPEGs placed the same way (on NTFS the deep search
#   finds the common files by their old MFT records: carving must not list them again).

# _carve_contents DIR: the files as written.
_carve_contents()
{
    local d=$1
    mkdir -p "$d"
    local seed name
    for name in photo1:1:320x240 photo2:2:200x150 deep:3:240x180 frag:4:360x270 pairA:5:300x220 \
        pairB:6:280x200; do
        IFS=: read -r name seed size <<<"$name"
        convert -seed "$seed" -size "$size" plasma: -quality 90 "$d/$name.jpg"
    done
    convert -seed 8 -size 120x90 plasma: +set date:create +set date:modify \
        -define png:exclude-chunks=date,time "$d/pic.png"
    python3 - "$d" <<'PY'
import random, sys, zipfile
d = sys.argv[1]
rng = random.Random(30)
with zipfile.ZipFile(d + "/doc.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(3):
        info = zipfile.ZipInfo("part%d.txt" % i, date_time=(2024, 1, 2, 3, 4, 6))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, "".join("entry %d line %d %d\n" % (i, k, rng.randrange(10**6))
                                 for k in range(400)))
with open(d + "/note.txt", "w") as f:
    for k in range(150):
        f.write("Note line %03d: the quick brown fox jumps over the lazy dog.\n" % k)
with open(d + "/random.bin", "wb") as f:
    f.write(bytes(rng.randrange(256) for _ in range(20000)))
PY
}

# The common files in the order written (random filler between pictures).
_carve_common_order="photo1.jpg random.bin pic.png doc.zip note.txt photo2.jpg"

# _carve_place IMAGE FS DIR: after the format, frag.jpg around random filler and the pair
# interleaved, by cluster, into the free data region (FS: fat32, exfat or ntfs; on the 16 MiB
# NTFS volume clusters 3000 on are free after the format).
_carve_place()
{
    python3 - "$@" <<'PY'
import random, struct, sys
img, fs, d = sys.argv[1:4]
with open(img, "r+b") as f:
    boot = f.read(512)
    if fs == "fat32":
        bps, spc, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
        fatsz = struct.unpack_from("<I", boot, 36)[0]
        start, cb, base = (reserved + fats * fatsz) * bps, bps * spc, 30000
    elif fs == "ntfs":
        bps, spc = struct.unpack_from("<HB", boot, 11)
        start, cb, base = 2 * bps * spc, bps * spc, 3000
    else:
        heap = struct.unpack_from("<I", boot, 88)[0]
        start, cb, base = heap << boot[108], 1 << (boot[108] + boot[109]), 2000
    def put(cluster, data):
        f.seek(start + (cluster - 2) * cb)
        f.write(data)
    def clusters(n):
        return (n + cb - 1) // cb
    frag = open(d + "/frag.jpg", "rb").read()
    half = clusters(len(frag)) // 2 * cb
    rng = random.Random(31)
    put(base, frag[:half])
    put(base + half // cb, bytes(rng.randrange(256) for _ in range(37 * cb)))
    put(base + half // cb + 37, frag[half:])
    at = base + clusters(len(frag)) + 37 + 50
    a = open(d + "/pairA.jpg", "rb").read()
    b = open(d + "/pairB.jpg", "rb").read()
    ha, hb = clusters(len(a)) // 2 * cb, clusters(len(b)) // 2 * cb
    for piece in (a[:ha], b[:hb], a[ha:], b[hb:]):
        put(at, piece)
        at += clusters(len(piece))
PY
}

image_carve_fat32()
{
    local img=$1 d="$IMAGE_OUTPUT.d" name
    rm -rf "$d"
    _carve_contents "$d"
    _fat_new "$img" 32 36864 1 ORLCARVE
    for name in $_carve_common_order; do
        mcopy -i "$img@@0" "$d/$name" "::/$name"
    done
    mmd -i "$img@@0" ::/DCIM
    mcopy -i "$img@@0" "$d/deep.jpg" ::/DCIM/deep.jpg
    mkfs.fat --invariant -F 32 -s 1 -n ORLCARVE "$img" >/dev/null
    _carve_place "$img" fat32 "$d"
}

_carve_copy_common()
{
    local m=$1 d=$2 name
    for name in $_carve_common_order; do
        cp "$d/$name" "$m/$name"
    done
}

image_carve_exfat()
{
    local img=$1 d="$IMAGE_OUTPUT.d"
    rm -rf "$d"
    _carve_contents "$d"
    _exfat_new "$img" 16M 4K
    _exfat_with "$img" _carve_copy_common "$d"
    mkfs.exfat -c 4K -L ORLCARVE "$img" >/dev/null
    _carve_place "$img" exfat "$d"
}

image_carve_ntfs()
{
    local img=$1 d="$IMAGE_OUTPUT.d"
    rm -rf "$d"
    _carve_contents "$d"
    _ntfs_format "$img" 16 -c 4096
    _ntfs_with "$img" _carve_copy_common "$d"
    mkntfs -F -f -q -L orlavent -c 4096 "$img" >/dev/null 2>&1
    _carve_place "$img" ntfs "$d"
}

# Volumes for the timeline listings (scan --bodyfile, --csv, --filter). Sourced by
# make-image.sh; uses _ntfs_fixture and _ntfs_format from ntfs.sh.
#
# timeline-ntfs: deleted files of several types in a live folder and in a deleted one, one
#   named with a comma and quotes; then every user record's $STANDARD_INFORMATION times are set
#   to four different instants (creation < modification < MFT change < access, each with a
#   fraction of a second), a day apart from one record to the next, so that a column taken for
#   another, or a time rounded instead of cut, shows.

image_timeline_ntfs() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 8
    "$fixture" "$out" <<'SCRIPT'
mkdir /photos
file 3000 /photos/beach.jpg
file 200 /photos/notes.txt
file 100 /photos/keep.png
file 900 /photos/clip.mp4
mkdir /old
file 700 /old/a,b "c".txt
file 500 /Report 2024.doc
rm /photos/beach.jpg
rm /photos/notes.txt
rm /photos/clip.mp4
rm /old/a,b "c".txt
rm /old
rm /Report 2024.doc
SCRIPT
    python3 - "$out" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    boot = f.read(512)
    sector = struct.unpack_from("<H", boot, 0x0B)[0]
    cluster = sector * boot[0x0D]
    mft = struct.unpack_from("<Q", boot, 0x30)[0] * cluster
    per = struct.unpack_from("<b", boot, 0x40)[0]
    record = 1 << -per if per < 0 else per * cluster
    base = 132223104000000000  # 2020-01-01 00:00:00 UTC as a FILETIME
    day, hour, fraction = 864000000000, 36000000000, 9999999
    for n in range(64, 128):
        f.seek(mft + n * record)
        rec = bytearray(f.read(record))
        if rec[:4] != b"FILE":
            continue
        at = struct.unpack_from("<H", rec, 0x14)[0]
        if struct.unpack_from("<I", rec, at)[0] != 0x10:
            continue
        value = at + struct.unpack_from("<H", rec, at + 0x14)[0]
        created = base + n * day + fraction
        times = [created + k * hour for k in range(4)]  # created, modified, MFT change, access
        f.seek(mft + n * record + value)
        f.write(struct.pack("<4Q", *times))
PY
}

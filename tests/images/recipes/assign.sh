# Deleted FAT files whose clusters a layout search could get wrong. Sourced by make-image.sh;
# uses _fat_new, _fat_apply (fat.sh) and the _frag_* helpers (frag.sh).
#
# fat_assign (FAT16, 8 MiB, 1 KiB clusters): mtools writes the files, then their clusters are
# moved onto chosen ones and their creation times set, then all are deleted:
#   "Gone/Alpha.bin" 2027 B at 17 20,   created 2021-03-04 05:06:10  \ the same minute: Alpha
#   "Gone/Beta.bin"  1715 B at 18 19,   created 2021-03-04 05:06:40  / was written around Beta
#   "Huge.bin"    3000 B at 100-102,  created 2021-03-04 06:00:00, its size then set to
#                 4 GiB - 1 (more than the volume holds)
#   "After.bin"   3000 B at 110-112,  created 2021-03-04 06:00:12
#   "Gone" is deleted whole.
# Content is _fat_content of the path (as in fat.sh).

# _assign_size IMG FIRST SIZE: sets the size of the deleted short entry whose first cluster is
# FIRST, looked for in the root folder.
_assign_size()
{
    python3 - "$1" "$2" "$3" "$FR_ROOT" "$FR_DATA" <<'PY'
import struct, sys
path, first, size, root, data = sys.argv[1], *map(int, sys.argv[2:])
with open(path, "r+b") as f:
    f.seek(root)
    table = f.read(data - root)
    for at in range(0, len(table), 32):
        e = table[at:at + 32]
        if e[0] == 0xE5 and e[11] != 0x0F and struct.unpack_from("<H", e, 26)[0] == first:
            f.seek(root + at + 28)
            f.write(struct.pack("<I", size))
            break
    else:
        sys.exit("assign.sh: no deleted entry with first cluster %d" % first)
PY
}

image_fat_assign()
{
    local img=$1
    _fat_new "$img" 16 8192 2 ORLASSIGN
    _frag_geometry "$img"
    _fat_apply "$img" <<'EOF2'
md|Gone
put|Gone/Alpha.bin|2027
put|Gone/Beta.bin|1715
put|Huge.bin|3000
put|After.bin|3000
EOF2
    _frag_move "$img" "Gone/Alpha.bin" 17 20
    _frag_move "$img" "Gone/Beta.bin" 18 19
    _frag_move "$img" "Huge.bin" 100 101 102
    _frag_move "$img" "After.bin" 110 111 112
    _frag_created "$img" "Gone/Alpha.bin" "2021 03 04 05 06 10"
    _frag_created "$img" "Gone/Beta.bin" "2021 03 04 05 06 40"
    _frag_created "$img" "Huge.bin" "2021 03 04 06 00 00"
    _frag_created "$img" "After.bin" "2021 03 04 06 00 12"
    _fat_apply "$img" <<'EOF2'
del|Huge.bin
del|After.bin
deltree|Gone
EOF2
    _assign_size "$img" 100 4294967295
}

# exfat_assign (exFAT, 64 MiB, 4 KiB clusters; needs what exfat.sh needs): bogus.bin (three
# clusters) is written, then intact.bin (three clusters) behind it; both are deleted, then the
# stream entry of bogus.bin is given a size of 1 TiB (valid data too, the set checksum
# recomputed).
_assign_exfat_ops()
{
    _exfat_put "$1" bogus.bin $((3 * 4096))
    _exfat_put "$1" intact.bin $((3 * 4096))
    rm "$1/bogus.bin" "$1/intact.bin"
}

image_exfat_assign()
{
    _exfat_new "$1" 64M 4096
    _exfat_with "$1" _assign_exfat_ops
    python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    boot = f.read(512)
    heap, root = struct.unpack_from("<II", boot, 0x58)[0], struct.unpack_from("<I", boot, 0x60)[0]
    sector = 1 << boot[0x6C]
    cluster = sector << boot[0x6D]
    at = heap * sector + (root - 2) * cluster
    f.seek(at)
    folder = bytearray(f.read(cluster))
    for start in range(0, len(folder), 32):
        if folder[start] != 0x05:
            continue
        count = folder[start + 1] + 1
        entries = folder[start:start + 32 * count]
        name = b"".join(entries[32 * i + 2:32 * i + 32] for i in range(2, count))
        if not name.decode("utf-16-le").startswith("bogus.bin"):
            continue
        struct.pack_into("<Q", entries, 32 + 0x08, 1 << 40)  # ValidDataLength
        struct.pack_into("<Q", entries, 32 + 0x18, 1 << 40)  # DataLength
        total = 0
        for i, byte in enumerate(entries):
            if i in (2, 3):
                continue
            if i % 32 == 0:
                byte |= 0x80
            total = ((0x8000 if total & 1 else 0) + (total >> 1) + byte) & 0xFFFF
        struct.pack_into("<H", entries, 2, total)
        f.seek(at + start)
        f.write(entries)
        break
    else:
        sys.exit("assign.sh: no deleted bogus.bin")
PY
}

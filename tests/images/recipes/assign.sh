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

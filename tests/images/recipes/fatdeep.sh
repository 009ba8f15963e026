# FAT volumes filled with a folder tree, then quick-formatted again with the same tool and
# geometry: the root and the FAT are cleared, the folders' clusters keep their entries. Sourced
# by make-image.sh; uses _fat_new, _fat_apply and _fat_content (fat.sh).
#
# fatdeep12 (4 MiB FAT12, 2 KiB clusters), fatdeep16 (16 MiB FAT16, 2 KiB clusters), fatdeep32
# (36 MiB FAT32, 512-byte clusters), each holding before the format:
#   DCIM/100CAM01/ IMG_0001.JPG .. IMG_0004.JPG and "Holiday at the sea 003.jpg";
#   DOCS/ PLAN.TXT, "Meeting Minutes.txt", SUB/ (DEEP.TXT, "Deep Long Name.txt"), and MANY/
#   with "Empty note 01.txt" .. "Empty note 40.txt" (0 bytes, three slots each, so that the
#   folder's clusters follow each other) and "Last One.txt" in a later cluster of it;
#   ROOT.TXT in the root.
# The contents are _fat_content of each file's path (tests/e2e/CliProcess.cpp FatContent).

_fatdeep_ops()
{
    cat <<'EOF2'
md|DCIM
md|DCIM/100CAM01
put|DCIM/100CAM01/IMG_0001.JPG|5000
put|DCIM/100CAM01/IMG_0002.JPG|7300
put|DCIM/100CAM01/Holiday at the sea 003.jpg|4100
put|DCIM/100CAM01/IMG_0004.JPG|2600
md|DOCS
md|DOCS/SUB
md|DOCS/MANY
EOF2
    # MANY's entries first, so that its clusters are taken before any file's.
    local i
    for i in $(seq -w 1 40); do
        echo "put|DOCS/MANY/Empty note $i.txt|0"
    done
    cat <<'EOF2'
put|DOCS/MANY/Last One.txt|700
put|DOCS/PLAN.TXT|400
put|DOCS/Meeting Minutes.txt|900
put|DOCS/SUB/DEEP.TXT|250
put|DOCS/SUB/Deep Long Name.txt|2600
put|ROOT.TXT|333
EOF2
}

# _fatdeep_make IMAGE FATBITS SIZE_KIB SECTORS_PER_CLUSTER LABEL
_fatdeep_make()
{
    _fat_new "$1" "$2" "$3" "$4" "$5"
    _fatdeep_ops | _fat_apply "$1"
    # The quick format: the same geometry over the same file, which keeps its data region.
    mkfs.fat --invariant -F "$2" -s "$4" -n "$5" "$1" >/dev/null
}

image_fatdeep12() { _fatdeep_make "$1" 12 4096 4 ORLDEEP12; }
image_fatdeep16() { _fatdeep_make "$1" 16 16384 4 ORLDEEP16; }
image_fatdeep32() { _fatdeep_make "$1" 32 36864 1 ORLDEEP32; }

# fatdeep_loop (2 MiB FAT12, 512-byte clusters), hostile: LOOPA/ (AFILE.TXT, LOOPB/ with
# BFILE.TXT and BACK/) and SELF/ (SFILE.TXT, ME/) made, the volume quick-formatted, then
# patched: LOOPA's ".." names LOOPB and BACK's entry in LOOPB names LOOPA (a loop of folders);
# SELF's ".." and ME's entry in SELF both name SELF itself.
image_fatdeep_loop()
{
    local img=$1
    _fat_new "$img" 12 2048 1 ORLLOOP
    _fat_apply "$img" <<'EOF2'
md|LOOPA
md|LOOPA/LOOPB
md|LOOPA/LOOPB/BACK
put|LOOPA/AFILE.TXT|100
put|LOOPA/LOOPB/BFILE.TXT|120
md|SELF
md|SELF/ME
put|SELF/SFILE.TXT|130
EOF2
    local a b s
    a=$(_fatdeep_cluster "$img" LOOPA)
    b=$(_fatdeep_cluster "$img" LOOPA/LOOPB)
    s=$(_fatdeep_cluster "$img" SELF)
    mkfs.fat --invariant -F 12 -s 1 -n ORLLOOP "$img" >/dev/null
    python3 - "$img" "$a" "$b" "$s" <<'PY'
import struct, sys
path, a, b, s = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
with open(path, "r+b") as f:
    boot = f.read(512)
    bps, spc, reserved, fats, roots, _, _, fatsz = struct.unpack_from("<HBHBHHBH", boot, 11)
    data = (reserved + fats * fatsz) * bps + roots * 32
    size = bps * spc
    def at(cluster):
        return data + (cluster - 2) * size
    def set_first(offset, cluster):
        f.seek(offset + 0x14); f.write(struct.pack("<H", cluster >> 16))
        f.seek(offset + 0x1A); f.write(struct.pack("<H", cluster & 0xFFFF))
    def entry_named(cluster, name):
        f.seek(at(cluster)); block = f.read(size)
        for off in range(0, size, 32):
            if block[off:off + 11] == name.ljust(11).encode():
                return at(cluster) + off
        sys.exit("fatdeep_loop: no entry " + name)
    set_first(at(a) + 32, b)
    set_first(entry_named(b, "BACK"), a)
    set_first(at(s) + 32, s)
    set_first(entry_named(s, "ME"), s)
PY
}

# _fatdeep_cluster IMAGE PATH: the first cluster of PATH, as mshowfat lists it.
_fatdeep_cluster()
{
    mshowfat -i "$1" "::/$2" | sed -n 's/.*<\([0-9]*\)[->].*/\1/p'
}

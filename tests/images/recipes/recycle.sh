# Volumes with an emptied Recycle Bin, one per file system. Sourced by make-image.sh; uses
# _fat_new, _fat_content (fat.sh), _ntfs_fixture, _ntfs_format (ntfs.sh) and _exfat_with,
# _exfat_new (exfat.sh). Record bytes are written by Python.
#
# recycle_fat (FAT16, 16 MiB, 1 KiB clusters), recycle_ntfs (16 MiB, 4 KiB clusters) and
# recycle_exfat (64 MiB, 4 KiB clusters) hold, all deleted at the end:
#   $RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/
#     $IABC123.txt  version 2 record: C:\Users\Alice\Documents\Quarterly Report.txt, 3000 bytes
#     $RABC123.txt  its data: _fat_content "Quarterly Report" 3000
#     $IGHI789.txt  version 2 record: the same path, 1200 bytes, recycled a day earlier
#     $RGHI789.txt  its data: _fat_content "Quarterly Report older" 1200
#     $IDEF456      version 1 record: C:\Users\Alice\Old Project (a folder)
#     $RDEF456/     the recycled folder, holding "Project Notes.txt":
#                   _fat_content "Project Notes" 1500
# recycle_fat also holds, deleted as well, the older form of the bin:
#   RECYCLER/S-1-5-21-1004336348-1177238915-682003330-1003/
#     INFO2         one record: Dc1, drive C:,
#                   C:\Documents and Settings\Bob\Desktop\budget.xls, 800 bytes
#     Dc1.xls       its data: _fat_content "budget" 800

_recycle_sid=S-1-5-21-1004336348-1177238915-682003330-1001
_recycle_xp_sid=S-1-5-21-1004336348-1177238915-682003330-1003

# _recycle_index OUT VERSION SIZE PATH [DAY]: a $I record of a file recycled on DAY of March
# 2021 (4 by default).
_recycle_index()
{
    python3 - "$@" <<'PY'
import struct, sys
out, version, size, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
day = int(sys.argv[5]) if len(sys.argv) > 5 else 4
text = path.encode("utf-16-le") + b"\0\0"
# 2021-03-DAY 05:06:08 UTC as a FILETIME.
when = (1614834368 + (day - 4) * 86400 + 11644473600) * 10000000
head = struct.pack("<QQQ", version, size, when)
if version == 1:
    body = text.ljust(520, b"\0")
else:
    body = struct.pack("<I", len(text) // 2) + text
open(out, "wb").write(head + body)
PY
}

# _recycle_info2 OUT INDEX DRIVE SIZE PATH: an INFO2 file of one 800-byte record.
_recycle_info2()
{
    python3 - "$@" <<'PY'
import struct, sys
out, index, drive, size, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
when = (1614834368 + 11644473600) * 10000000
head = struct.pack("<IIIII", 5, 0, 0, 800, 0)
record = path.encode("latin-1").ljust(260, b"\0")
record += struct.pack("<IIQI", index, drive, when, size)
record += path.encode("utf-16-le").ljust(520, b"\0")
open(out, "wb").write(head + record)
PY
}

# _recycle_files DIR: the files of the bin, named as on the volume, under DIR.
_recycle_files()
{
    local d=$1/$_recycle_sid
    mkdir -p "$d/\$RDEF456"
    _recycle_index "$d/\$IABC123.txt" 2 3000 'C:\Users\Alice\Documents\Quarterly Report.txt'
    _fat_content "Quarterly Report" 3000 >"$d/\$RABC123.txt"
    _recycle_index "$d/\$IGHI789.txt" 2 1200 'C:\Users\Alice\Documents\Quarterly Report.txt' 3
    _fat_content "Quarterly Report older" 1200 >"$d/\$RGHI789.txt"
    _recycle_index "$d/\$IDEF456" 1 0 'C:\Users\Alice\Old Project'
    _fat_content "Project Notes" 1500 >"$d/\$RDEF456/Project Notes.txt"
}

image_recycle_fat()
{
    local img=$1 src m
    src=$(mktemp -d)
    _recycle_files "$src"
    _fat_new "$img" 16 16384 2 ORLRECYCLE
    m="::/\$RECYCLE.BIN/$_recycle_sid"
    mmd -i "$img@@0" "::/\$RECYCLE.BIN" "$m" "$m/\$RDEF456"
    for f in "\$IABC123.txt" "\$RABC123.txt" "\$IGHI789.txt" "\$RGHI789.txt" "\$IDEF456" \
        "\$RDEF456/Project Notes.txt"; do
        mcopy -i "$img@@0" "$src/$_recycle_sid/$f" "$m/$f"
    done
    local x="::/RECYCLER/$_recycle_xp_sid"
    mmd -i "$img@@0" "::/RECYCLER" "$x"
    _recycle_info2 "$src/INFO2" 1 2 800 'C:\Documents and Settings\Bob\Desktop\budget.xls'
    _fat_content "budget" 800 >"$src/Dc1.xls"
    mcopy -i "$img@@0" "$src/INFO2" "$x/INFO2"
    mcopy -i "$img@@0" "$src/Dc1.xls" "$x/Dc1.xls"
    # Emptying the bin.
    mdel -i "$img@@0" "$m/\$IABC123.txt" "$m/\$RABC123.txt" "$m/\$IGHI789.txt" \
        "$m/\$RGHI789.txt" "$m/\$IDEF456" "$x/INFO2" "$x/Dc1.xls"
    mdeltree -i "$img@@0" "$m/\$RDEF456"
    rm -rf "$src"
}

image_recycle_ntfs()
{
    local out=$1 fixture src b
    fixture=$(_ntfs_fixture "$out")
    src=$(mktemp -d)
    _recycle_files "$src"
    _ntfs_format "$out" 16 -c 4096
    b="/\$RECYCLE.BIN/$_recycle_sid"
    printf 'mkdir /$RECYCLE.BIN\nmkdir %s\nmkdir %s/$RDEF456\n' "$b" "$b" | "$fixture" "$out"
    for f in "\$IABC123.txt" "\$RABC123.txt" "\$IGHI789.txt" "\$RGHI789.txt" "\$IDEF456" \
        "\$RDEF456/Project Notes.txt"; do
        ntfscp -q "$out" "$src/$_recycle_sid/$f" "$b/$f"
    done
    "$fixture" "$out" <<SCRIPT
rm $b/\$IABC123.txt
rm $b/\$RABC123.txt
rm $b/\$IGHI789.txt
rm $b/\$RGHI789.txt
rm $b/\$IDEF456
rm $b/\$RDEF456/Project Notes.txt
remount
rm $b/\$RDEF456
SCRIPT
    rm -rf "$src"
}

_recycle_exfat_ops()
{
    local m=$1 src=$2
    mkdir -p "$m/\$RECYCLE.BIN"
    cp -r "$src/$_recycle_sid" "$m/\$RECYCLE.BIN/"
    sync
    rm -r "$m/\$RECYCLE.BIN/$_recycle_sid/"*
}

image_recycle_exfat()
{
    local src
    src=$(mktemp -d)
    _recycle_files "$src"
    _exfat_new "$1" 64M 4K
    _exfat_with "$1" _recycle_exfat_ops "$src"
    rm -rf "$src"
}

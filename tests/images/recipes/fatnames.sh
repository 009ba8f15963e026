# FAT and exFAT volumes for names as they are stored, deleted folders and empty files. Sourced
# by make-image.sh; uses _fat_new, _fat_apply and _fat_content (fat.sh) and _exfat_new,
# _exfat_with and _exfat_put (exfat.sh).
#
# fatnames (16 MiB FAT16, 1 KiB clusters), in the order written:
#   OLDDIR/ (the volume's first cluster) with INSIDE.TXT, in front of photos/ (live, an 8.3
#   name in lower case: mtools stores it with case flags, no long name);
#   deleted: gone.txt and data.TXT (case flags 0x18 and 0x08), ".привет.txt.swp" and
#   "привет мир.txt" (long names whose short names start with '_'), two names of 240
#   characters that differ only in their last ones, empty.txt (0 bytes);
#   EMPTIES/ with E01.TXT .. E20.TXT of 0 bytes, deleted (mdeltree); OLDDIR deleted (mdeltree)
#   before the live folder "Live Folder Name" takes its first cluster and holds LIVE.TXT.
#
# fatnames_chain (2 MiB FAT12, 512-byte clusters): D1/ .. D8/ made first, so that they take
# clusters 2 .. 9, each filled to exactly one cluster with F01.TXT .. F14.TXT (2 bytes each),
# then all deleted (mdeltree): eight deleted folders in consecutive full clusters.
#
# exfatnames (64 MiB exFAT, 4 KiB clusters; needs root and /dev/fuse): Empties/ with e01.txt ..
# e20.txt of 0 bytes, removed (rm -r); zero.txt (0 bytes) removed; D1/ .. D4/ made first, each
# filled to exactly one cluster of entry sets (40 files of 3 entries and 2 of 4) holding 2
# bytes each, removed; then the DataLength of every deleted folder in the root is set to 0,
# as a deleted folder that keeps no length.

# A name of 240 characters ending in TAIL.
_fatnames_long()
{
    local stem="A very long name that goes on and on past the old limit of the catalogue "
    local name="$stem$stem$stem$stem"
    printf '%s%s' "${name:0:$((240 - ${#1}))}" "$1"
}

image_fatnames()
{
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
    _fat_new "$1" 16 16384 2 FATNAMES
    local long1 long2
    long1=$(_fatnames_long " version 1.txt")
    long2=$(_fatnames_long " version 2.txt")
    _fat_apply "$1" <<EOF
md|OLDDIR
md|photos
put|OLDDIR/INSIDE.TXT|100
put|gone.txt|300
put|data.TXT|310
put|.привет.txt.swp|320
put|привет мир.txt|330
put|$long1|340
put|$long2|350
put|empty.txt|0
md|EMPTIES
EOF
    local i ops=""
    for i in $(seq -w 1 20); do
        ops+="put|EMPTIES/E$i.TXT|0"$'\n'
    done
    _fat_apply "$1" <<<"$ops"
    # OLDDIR's slot is one entry long: the new folder's three go elsewhere, and it takes the
    # first free cluster, OLDDIR's.
    _fat_apply "$1" <<EOF
deltree|OLDDIR
md|Live Folder Name
put|Live Folder Name/LIVE.TXT|100
del|gone.txt
del|data.TXT
del|.привет.txt.swp
del|привет мир.txt
del|$long1
del|$long2
del|empty.txt
deltree|EMPTIES
EOF
}

image_fatnames_chain()
{
    _fat_new "$1" 12 2048 1 FATCHAIN
    local d f ops=""
    for d in 1 2 3 4 5 6 7 8; do
        ops+="md|D$d"$'\n'
    done
    for d in 1 2 3 4 5 6 7 8; do
        for f in $(seq -w 1 14); do
            ops+="put|D$d/F$f.TXT|2"$'\n'
        done
    done
    for d in 1 2 3 4 5 6 7 8; do
        ops+="deltree|D$d"$'\n'
    done
    _fat_apply "$1" <<<"$ops"
}

_exfatnames_ops()
{
    local m=$1 d i
    mkdir "$m/D1" "$m/D2" "$m/D3" "$m/D4"
    for d in 1 2 3 4; do
        for i in $(seq -w 1 40); do
            _exfat_put "$m" "D$d/f$i" 2
        done
        # Names of 16 characters take two File Name entries: 40 * 3 + 2 * 4 = 128 entries.
        _exfat_put "$m" "D$d/sixteen-chars-aa" 2
        _exfat_put "$m" "D$d/sixteen-chars-bb" 2
    done
    mkdir "$m/Empties"
    for i in $(seq -w 1 20); do
        : >"$m/Empties/e$i.txt"
    done
    : >"$m/zero.txt"
    rm -r "$m/Empties" "$m/D1" "$m/D2" "$m/D3" "$m/D4"
    rm "$m/zero.txt"
}

# Sets the DataLength of every deleted folder entry set in the root directory to 0.
_exfatnames_drop_lengths()
{
    python3 - "$1" <<'PY'
import struct, sys
path = sys.argv[1]
with open(path, "r+b") as f:
    boot = f.read(512)
    bps = 1 << boot[0x6C]
    spc = 1 << boot[0x6D]
    heap = struct.unpack_from("<I", boot, 0x58)[0] * bps
    root = struct.unpack_from("<I", boot, 0x60)[0]
    at = heap + (root - 2) * bps * spc
    f.seek(at)
    data = bytearray(f.read(bps * spc))
    for i in range(0, len(data) - 64, 32):
        # A deleted File entry (0x05) of a folder (attribute 0x10), then its Stream Extension.
        if data[i] == 0x05 and struct.unpack_from("<H", data, i + 4)[0] & 0x10:
            if data[i + 32] == 0x40:
                struct.pack_into("<Q", data, i + 32 + 0x18, 0)
    f.seek(at)
    f.write(data)
PY
}

image_exfatnames()
{
    _exfat_new "$1" 64M 4K
    _exfat_with "$1" _exfatnames_ops
    _exfatnames_drop_lengths "$1"
}

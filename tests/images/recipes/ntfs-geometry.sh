# NTFS test volumes of other geometries and record layouts: 4,096-byte sectors (and records),
# 64 KiB and 2 MiB clusters, named data streams, compressed files, and files whose records need
# an attribute list. Built like those of ntfs.sh: mkntfs on a sparse file, then
# tests/images/ntfs-build.c; the content of every file follows from its path (see the head of
# ntfs-build.c and tests/support/NtfsContent.h).

# 4,096-byte sectors, so 4,096-byte MFT records: a 2,500-byte file stays resident here where a
# 1,024-byte record would not hold it.
image_ntfs_4k_sector() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -s 4096 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /docs
file 300 /docs/small.txt
file 20000 /docs/report.txt
file 2500 /docs/resident 2500.txt
mkdir /docs/old
file 9000 /docs/old/gone.txt
file 150 /docs/tiny gone.txt
file 70000 /big gone.bin
file 2500 /resident gone.txt
rm /docs/old/gone.txt
rm /docs/old
rm /docs/tiny gone.txt
rm /big gone.bin
rm /resident gone.txt
SCRIPT
}

# 64 KiB clusters: files of less than a cluster, of several clusters, and one in two runs.
image_ntfs_64k_cluster() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 32 -c 65536
    "$fixture" "$out" <<'SCRIPT'
mkdir /data
file 100 /data/resident.txt
file 5000 /data/one cluster.txt
file 200000 /data/four clusters.bin
file 0 /data/two runs.bin
file 70000 /data/between.bin
append 70000 /data/two runs.bin
file 65536 /data/filler.bin
append 70000 /data/two runs.bin
file 100 /data/resident gone.txt
file 5000 /data/one cluster gone.txt
file 300000 /big gone.bin
rm /data/resident gone.txt
rm /data/one cluster gone.txt
rm /data/two runs.bin
rm /big gone.bin
SCRIPT
}

# 2 MiB clusters (mkntfs's largest) on a 128 MiB sparse volume; writes are kept small. mkntfs
# and libntfs-3g write metadata by whole clusters, mostly zeros: those become holes again.
image_ntfs_2m_cluster() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 128 -c 2097152
    "$fixture" "$out" <<'SCRIPT'
mkdir /data
file 100 /data/resident.txt
file 5000 /data/one cluster.txt
file 3000 /data/kept.txt
file 100 /data/resident gone.txt
file 6000 /data/one cluster gone.txt
file 0 /data/two clusters gone.bin
append 4000 /data/two clusters gone.bin
hole 2093152 /data/two clusters gone.bin
append 4000 /data/two clusters gone.bin
rm /data/resident gone.txt
rm /data/one cluster gone.txt
rm /data/two clusters gone.bin
SCRIPT
    fallocate --dig-holes "$out"
}

# Named data streams, resident and not, on live and deleted files, with Unicode names.
image_ntfs_streams() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    LC_ALL=C.UTF-8 "$fixture" "$out" <<'SCRIPT'
mkdir /streams
file 400 /streams/live.txt
stream 200 /streams/live.txt:note
stream 9000 /streams/live.txt:big
stream 120 /streams/live.txt:ストリーム
file 500 /streams/gone.txt
stream 300 /streams/gone.txt:Zone.Identifier
stream 12000 /streams/gone.txt:thumb
file 0 /streams/empty with stream.txt
stream 5000 /streams/empty with stream.txt:données
file 100 /streams/ünïcode 名前.txt
stream 700 /streams/ünïcode 名前.txt:流れ
stream 0 /streams/ünïcode 名前.txt:empty
rm /streams/gone.txt
rm /streams/empty with stream.txt
rm /streams/ünïcode 名前.txt
SCRIPT
}

# A compressed folder (compression units of 16 clusters of 4 KiB): files smaller than a unit,
# of several units of text, and a mix of text units (stored compressed), a unit of noise
# (stored as it is), two units of zeros (stored as a hole) and a last part unit.
image_ntfs_compressed() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /packed
compressed /packed
file 200 /packed/tiny.txt
file 1000 /packed/small.txt
file 200000 /packed/several.txt
file 131072 /packed/mixed.bin
noise 65536 /packed/mixed.bin
hole 131072 /packed/mixed.bin
append 30000 /packed/mixed.bin
file 131072 /packed/mixed kept.bin
noise 65536 /packed/mixed kept.bin
hole 131072 /packed/mixed kept.bin
append 30000 /packed/mixed kept.bin
file 5000 /packed/small kept.txt
file 8000 /plain.txt
rm /packed/tiny.txt
rm /packed/small.txt
rm /packed/several.txt
rm /packed/mixed.bin
SCRIPT
}

# Records that need an attribute list: files with 40 hard links (their $FILE_NAMEs spill into
# extension records), and two files of 400 stretches of 2 KiB of text each after a hole of the
# same size (clusters of 2 KiB), written in turn, whose $DATA is split by lowest VCN over extension records. One of
# each is deleted. libntfs-3g empties and frees extension records as names go and drops the
# attribute list once the base record holds all that is left, so the linked file loses first
# the names of its base record and last the name in its last extension record. libntfs-3g also
# removes a deleted file's last name when an extension record holds it: the deleted linked file
# keeps neither names nor attribute list, and the deleted fragmented file (whose name was moved
# out of its base record to make room) keeps its attribute list and $DATA extents but no name.
image_ntfs_attrlist() {
    local out=$1 fixture i
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 2048
    {
        echo "mkdir /links"
        echo "file 3000 /links/kept.txt"
        echo "file 5000 /links/gone.txt"
        for i in $(seq -w 1 40); do
            echo "link /links/kept.txt|/links/kept.txt another name $i"
            echo "link /links/gone.txt|/links/gone.txt another name $i"
        done
        echo "mkdir /frag"
        echo "file 0 /frag/kept.bin"
        echo "file 0 /frag/gone.bin"
        echo "fragment 400 2048 /frag/kept.bin|/frag/gone.bin"
        echo "rm /links/gone.txt"
        for i in $(seq -w 1 40); do echo "rm /links/gone.txt another name $i"; done
        echo "rm /frag/gone.bin"
    } | "$fixture" "$out"
}

# Marks MFT records of a volume made here as freed the way Windows deletes a file: the in-use
# flag cleared in the base record and its extension records, and the base record's sequence
# number moved on; every attribute stays. libntfs-3g instead takes a deleted file's names out of
# its extension records before freeing them. Records lie in the MFT's first extent.
_ntfs_free_file() {
    local image=$1 base=$2 rec bps spc mft cpr rsize off flags seq
    shift 2
    bps=$(od -An -t u2 -j 11 -N 2 "$image" | tr -d ' ')
    spc=$(od -An -t u1 -j 13 -N 1 "$image" | tr -d ' ')
    mft=$(od -An -t u8 -j 48 -N 8 "$image" | tr -d ' ')
    cpr=$(od -An -t d1 -j 64 -N 1 "$image" | tr -d ' ')
    if [ "$cpr" -lt 0 ]; then rsize=$((1 << -cpr)); else rsize=$((cpr * bps * spc)); fi
    for rec in "$base" "$@"; do
        off=$((mft * bps * spc + rec * rsize))
        flags=$(od -An -t u2 -j $((off + 0x16)) -N 2 "$image" | tr -d ' ')
        flags=$((flags & ~1))
        printf "$(printf '\\x%02x\\x%02x' $((flags & 255)) $((flags >> 8)))" |
            dd of="$image" bs=1 seek=$((off + 0x16)) conv=notrunc status=none
        if [ "$rec" = "$base" ]; then
            seq=$(od -An -t u2 -j $((off + 0x10)) -N 2 "$image" | tr -d ' ')
            seq=$(((seq + 1) & 0xFFFF))
            printf "$(printf '\\x%02x\\x%02x' $((seq & 255)) $((seq >> 8)))" |
                dd of="$image" bs=1 seek=$((off + 0x10)) conv=notrunc status=none
        fi
    done
}

# The attribute-list volume with its two live files then deleted as Windows deletes: the
# 41-name file (record 65, names in extension records) and the 800-run file (record 82, $DATA
# in three pieces, its name in an extension record).
image_ntfs_attrlist_freed() {
    local out=$1 fixture records
    image_ntfs_attrlist "$out"
    fixture=$(_ntfs_fixture "$out")
    for path in /links/kept.txt /frag/kept.bin; do
        records=$(echo "dump $path" | "$fixture" -r "$out" | awk -F'\t' 'NR == 1 { base = $2 }
            NR > 1 && $4 != base { print $4 } END { }' | sort -un | tr '\n' ' ')
        base=$(echo "inode $path" | "$fixture" -r "$out" | cut -f2)
        # shellcheck disable=SC2086
        _ntfs_free_file "$out" "$base" $records
    done
}

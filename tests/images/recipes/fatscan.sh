# FAT volumes for the deleted-entry scan, built with mkfs.fat and mtools. Sourced by
# make-image.sh; uses _fat_new and _fat_apply from fat.sh.
#
# fatscan12 (FAT12, 1 MiB, 512-byte clusters):
#   root:    deleted "lower case start.txt" (long name starting with a lower-case letter),
#            deleted NOARCH.TXT without the archive attribute, live KEEP.TXT;
#   $Recycle.Bin/: live folder holding a deleted file (listed as any other);
#   DUPS/:   REPORT.DOC deleted three times, every deleted entry intact (placeholders are
#            given up one by one so that each new version lands in front of the last);
#   DUPS2/:  README deleted twice, likewise;
#   OTHER/:  a deleted REPORT.DOC of its own (names in different folders never clash);
#   STRAD/:  13 files, then deleted "Straddling Name Here.txt" whose long-name parts straddle
#            the folder's first and second cluster;
#   STRAD2/: 13 files, then the live folder "Straddling Folder Name" whose long-name parts
#            straddle the folder's first and second cluster;
#   NOARDIR/ (deleted): NOARCH2.TXT without the archive attribute;
#   BIGDEL/ (deleted last): D01.TXT .. D20.TXT over two clusters.
#
# fatscan4k (FAT12, 4096-byte sectors and clusters): WIDE/ with W001.TXT .. W126.TXT, W050
# deleted, then deleted "Wide Straddling Name.txt" whose parts straddle the first and second
# cluster.

_fatscan_noarch_del()
{
    local img=$1 path=$2
    mattrib -i "$img@@0" -a "::/$path"
    mdel -i "$img@@0" "::/$path"
}

image_fatscan12()
{
    _fat_new "$1" 12 1024 1 ORLSCAN12
    # Folders and files first; the root deletions come last so that no later entry reuses
    # their directory slots.
    _fat_apply "$1" <<'EOF2'
put|KEEP.TXT|50
put|lower case start.txt|70
put|NOARCH.TXT|80
md|$Recycle.Bin
put|$Recycle.Bin/DESKTOP.INI|60
put|$Recycle.Bin/Old Thing.txt|90
del|$Recycle.Bin/Old Thing.txt
md|DUPS
put|DUPS/P3.TXT|10
put|DUPS/P2.TXT|10
put|DUPS/REPORT.DOC|111|report one
del|DUPS/REPORT.DOC
del|DUPS/P2.TXT
put|DUPS/REPORT.DOC|222|report two
del|DUPS/REPORT.DOC
del|DUPS/P3.TXT
put|DUPS/REPORT.DOC|333|report three
del|DUPS/REPORT.DOC
md|DUPS2
put|DUPS2/Q2.TXT|10
put|DUPS2/README|44|readme one
del|DUPS2/README
del|DUPS2/Q2.TXT
put|DUPS2/README|55|readme two
del|DUPS2/README
md|OTHER
put|OTHER/REPORT.DOC|120
del|OTHER/REPORT.DOC
md|STRAD
md|STRAD2
md|NOARDIR
put|NOARDIR/NOARCH2.TXT|90
md|BIGDEL
EOF2
    mattrib -i "$1@@0" -a "::/NOARDIR/NOARCH2.TXT"
    local i ops=""
    for i in $(seq -w 1 13); do
        ops+="put|STRAD/S$i.TXT|20"$'\n'
    done
    ops+="put|STRAD/Straddling Name Here.txt|300"$'\n'
    ops+="del|STRAD/Straddling Name Here.txt"$'\n'
    for i in $(seq -w 1 13); do
        ops+="put|STRAD2/T$i.TXT|20"$'\n'
    done
    ops+="md|STRAD2/Straddling Folder Name"$'\n'
    for i in $(seq -w 1 20); do
        ops+="put|BIGDEL/D$i.TXT|30"$'\n'
    done
    ops+="del|lower case start.txt"$'\n'
    printf '%s' "$ops" | _fat_apply "$1"
    _fatscan_noarch_del "$1" NOARCH.TXT
    printf 'deltree|NOARDIR\ndeltree|BIGDEL\n' | _fat_apply "$1"
}

image_fatscan4k()
{
    rm -f "$1"
    mkfs.fat -C --invariant -F 12 -S 4096 -s 1 -n ORLSCAN4K "$1" 8192 >/dev/null
    local i ops="md|WIDE"$'\n'
    for i in $(seq -w 1 126); do
        ops+="put|WIDE/W$i.TXT|20"$'\n'
    done
    ops+="del|WIDE/W050.TXT"$'\n'
    ops+="put|WIDE/Wide Straddling Name.txt|300"$'\n'
    ops+="del|WIDE/Wide Straddling Name.txt"$'\n'
    printf '%s' "$ops" | _fat_apply "$1"
}

# fatscanroot (FAT12, 1 MiB): the volume label and R01.TXT .. R62.TXT fill root entries 0-62,
# then deleted "Root Straddling Name.txt" has its long-name parts in entries 63 and 64, across
# the boundary of the 4-sector chunks in which the fixed root directory is read.
image_fatscanroot()
{
    _fat_new "$1" 12 1024 1 ORLROOT
    local i ops=""
    for i in $(seq -w 1 62); do
        ops+="put|R$i.TXT|10"$'\n'
    done
    ops+="put|Root Straddling Name.txt|99"$'\n'
    ops+="del|Root Straddling Name.txt"$'\n'
    printf '%s' "$ops" | _fat_apply "$1"
}

# fatbigdel16 (FAT16, 16 MiB, 2 KiB clusters) and fatbigdel32 (FAT32, 36 MiB, 512-byte
# clusters): the deleted folder CAM, whose entries fill several clusters, and the live KEEP.TXT.
# CAM held IMG_0001.JPG .. IMG_0200.JPG (8.3 names) and "Holiday Photo 001.jpg" ..
# "Holiday Photo 100.jpg" (long names, three slots each): 502 slots, 8 clusters on FAT16 and 32
# on FAT32, some long names straddling a cluster boundary. mtools gives a folder its next
# cluster from the free clusters after the last one it allocated, so the folder is first filled
# with empty files (no data clusters: the folder's clusters follow each other), which are then
# deleted and replaced by the real files in the same slots (mtools takes the first free slots,
# deleted ones included); file i holds _fat_content "CAM/<name>" of 100 + i bytes. Then every
# file is deleted (mdel) and the folder removed (mrd): its chain is freed, its clusters stay as
# written.
_fatbigdel()
{
    local img=$1 bits=$2 kib=$3 spc=$4 i names=() tmp
    _fat_new "$img" "$bits" "$kib" "$spc" ORLBIGDEL
    for i in $(seq -w 1 200); do
        names+=("IMG_0$i.JPG")
    done
    for i in $(seq -w 1 100); do
        names+=("Holiday Photo $i.jpg")
    done
    tmp=$(mktemp -d)
    mkdir "$tmp/empty" "$tmp/full"
    # The contents of _fat_content, written by one awk for all files.
    printf '%s\n' "${names[@]}" | LC_ALL=C awk -v dir="$tmp" '{
        f = dir "/full/" $0
        printf "" >(dir "/empty/" $0)
        close(dir "/empty/" $0)
        n = 100 + NR
        for (out = 0; out < n; ) {
            s = sprintf("CAM/%s line %05d\n", $0, ++i)
            if (out + length(s) > n)
                s = substr(s, 1, n - out)
            out += length(s)
            printf "%s", s >f
        }
        close(f)
        i = 0
    }'
    TZ=UTC touch -d '2021-03-04 05:06:08' "$tmp"/empty/* "$tmp"/full/*
    mmd -i "$img@@0" ::/CAM
    # One mcopy per set, in the order of the list, so that the slots follow it.
    TZ=UTC mcopy -m -i "$img@@0" "${names[@]/#/$tmp/empty/}" ::/CAM/
    mdel -i "$img@@0" '::/CAM/*'
    TZ=UTC mcopy -m -i "$img@@0" "${names[@]/#/$tmp/full/}" ::/CAM/
    rm -rf "$tmp"
    printf 'put|KEEP.TXT|50\n' | _fat_apply "$img"
    mdel -i "$img@@0" '::/CAM/*'
    mrd -i "$img@@0" ::/CAM
}

image_fatbigdel16()
{
    _fatbigdel "$1" 16 16384 4
}

image_fatbigdel32()
{
    _fatbigdel "$1" 32 36864 1
}

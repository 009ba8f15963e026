# Volumes whose deleted files had their clusters taken again by later files, for the condition
# of the finds. Sourced by make-image.sh (after fat.sh and ntfs.sh).
#
# cond_fat (2 MiB FAT12, 1 KiB clusters; mtools gives the lowest free clusters first):
#   DEL/KEEP.TXT   deleted, 3000 bytes, its clusters untouched           -> good
#   DEL/OVER.TXT   deleted, 4096 bytes, all four clusters taken by NEW/ALL.TXT -> overwritten 100
#   DEL/PART.TXT   deleted, 4096 bytes, its last two clusters taken by NEW/HALF.TXT, the first
#                  two free again: TMP/T.TXT held them and its entry was then reused
#                  -> partial 50
#   DEL/SAME.TXT   deleted, 2048 bytes, and OLD/LATE.TXT, deleted, 2048 bytes, written on the
#                  same clusters after it -> both partial 100
# mtools gives a new entry the first free slot of its folder, deleted ones included: what must
# stay findable is deleted in a folder that gets no new entries after it.
# Like _fat_apply, but each file is created a minute after the one before: later files are
# newer, as on a real card, so a file written over a deleted one is known to be the later.
_cond_fat_apply() {
    local img=$1 op a b src minute=0
    src=$(mktemp)
    while IFS='|' read -r op a b; do
        case "$op" in
            md) mmd -i "$img@@0" "::/$a" ;;
            put)
                _fat_content "$a" "$b" >"$src"
                minute=$((minute + 1))
                TZ=UTC touch -d "2021-03-04 05:$(printf '%02d' "$minute"):08" "$src"
                TZ=UTC mcopy -m -i "$img@@0" "$src" "::/$a"
                ;;
            del) mdel -i "$img@@0" "::/$a" ;;
        esac
    done
    rm -f "$src"
}

image_cond_fat() {
    local img=$1
    _fat_new "$img" 12 2048 2 CONDITION
    _cond_fat_apply "$img" <<'OPS'
md|DEL
md|NEW
md|TMP
md|OLD
put|DEL/KEEP.TXT|3000
put|DEL/OVER.TXT|4096
put|DEL/PART.TXT|4096
put|DEL/SAME.TXT|2048
put|PAD.TXT|1024
del|DEL/OVER.TXT
put|NEW/ALL.TXT|4096
del|DEL/SAME.TXT
put|OLD/LATE.TXT|2048
del|OLD/LATE.TXT
del|DEL/PART.TXT
put|TMP/T.TXT|2048
put|NEW/HALF.TXT|2048
del|TMP/T.TXT
put|TMP/E.TXT|0
del|DEL/KEEP.TXT
OPS
}

# cond_ntfs (16 MiB, 4 KiB clusters): /del/keep.bin deleted and untouched -> good; /del/over.bin
# deleted, then /new/grow.bin, which lay just before it, lengthened: libntfs-3g goes on right
# after a file's last cluster, so it takes all four of over.bin's -> overwritten 100;
# /del/tiny.txt deleted, resident -> good. No file is made after the deletions: a new file
# would take the lowest free MFT record, a deleted file's.
image_cond_ntfs() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /del
mkdir /new
file 4096 /new/grow.bin
file 16384 /del/over.bin
file 12288 /del/keep.bin
file 100 /del/tiny.txt
rm /del/over.bin
rm /del/tiny.txt
append 16384 /new/grow.bin
rm /del/keep.bin
SCRIPT
}

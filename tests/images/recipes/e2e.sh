# Volumes for the command line's end-to-end tests. Sourced by make-image.sh; uses _fat_new and
# _fat_apply from fat.sh.
#
# e2e_big (FAT32, 200 MiB, 512-byte clusters): deleted BIG.DAT of 150 MiB, contiguous, whose
#   content is the lines of `seq -f %010.0f 1 N` (11 bytes a line) cut to its size, and a
#   deleted SMALL.TXT (300 bytes, fat.sh content) beside it. Recovering BIG.DAT takes long
#   enough to be stopped in the middle.

image_e2e_big()
{
    local img=$1 src
    _fat_new "$img" 32 204800 1 ORLBIG
    src=$(mktemp)
    seq -f '%010.0f' 1 14298764 >"$src"
    truncate -s 157286400 "$src"
    TZ=UTC touch -d '2021-03-04 05:06:08' "$src"
    TZ=UTC mcopy -m -i "$img@@0" "$src" "::/BIG.DAT"
    rm -f "$src"
    _fat_apply "$img" <<'OPS'
put|SMALL.TXT|300
del|BIG.DAT
del|SMALL.TXT
OPS
}


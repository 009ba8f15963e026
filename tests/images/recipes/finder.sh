# The volume of the wizard's finding aids (filter, sort, preview), built with mkfs.fat, mtools
# and ImageMagick. Sourced by make-image.sh; uses _fat_new, _fat_apply and _fat_content from
# fat.sh.
#
# finder_fat (FAT16, 16 MiB, 2 KiB clusters):
#   live:    Documents/report.txt (1200 bytes), Photos/ and Photos/2024/, Music/
#   deleted: "Photos/2024/Beach Day.jpg" (a 320x240 JPEG), Photos/2024/Sunset.png (a 64x48
#            PNG), "Documents/Trip/Holiday plan.txt" (900 bytes of text),
#            "Documents/Budget 2024.txt" (5000 bytes), "Documents/To do.txt" (300 bytes),
#            "Music/Summer song.mp3" (7000 bytes of a byte pattern, no text)
# Every deleted name is a long name (8.3 names lose their first letter when deleted).
# Text content as fat.sh makes it ("<path> line NNNNN"); file times 2021-03-04 05:06:08 UTC.
image_finder_fat() {
    local out=$1 work
    work=$(mktemp -d)
    _fat_new "$out" 16 16384 4 FINDER
    convert -size 320x240 gradient:navy-gold -quality 85 "$work/beach.jpg"
    convert -size 64x48 xc:tomato "$work/sunset.png"
    python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) % 256 for i in range(7000)))' \
        >"$work/song.mp3"
    _fat_apply "$out" <<'OPS'
md|Documents
md|Documents/Trip
md|Photos
md|Photos/2024
md|Music
put|Documents/report.txt|1200
put|Documents/Trip/Holiday plan.txt|900
put|Documents/Budget 2024.txt|5000
put|Documents/To do.txt|300
OPS
    local f
    for f in "beach.jpg:Photos/2024/Beach Day.jpg" sunset.png:Photos/2024/Sunset.png \
        "song.mp3:Music/Summer song.mp3"; do
        TZ=UTC touch -d '2021-03-04 05:06:08' "$work/${f%%:*}"
        TZ=UTC mcopy -m -i "$out@@0" "$work/${f%%:*}" "::/${f#*:}"
    done
    _fat_apply "$out" <<'OPS'
del|Photos/2024/Beach Day.jpg
del|Photos/2024/Sunset.png
del|Documents/Trip/Holiday plan.txt
del|Documents/Budget 2024.txt
del|Documents/To do.txt
del|Music/Summer song.mp3
OPS
    rm -rf "$work"
}

# exFAT volumes filled, then quick-formatted again with the same tool and geometry: what the
# deep search finds of the old tree. Sourced by make-image.sh (needs exfat.sh and fat.sh).
#
# exfat_formatted (24 MiB, 4 KiB clusters), before the format:
#
#   DCIM/100CAM01/IMG_0001.JPG .. IMG_0005.JPG (3000 .. 19000 bytes)
#   DOCS/report.txt (6000), DOCS/SUB/notes.txt (700), DOCS/SUB/long.bin (40000)
#   DOCS/frag.bin: six clusters and a bit, in two pieces (it took the three clusters of a file
#                  deleted before it and continues behind DOCS/pad.bin)
#   root.txt (1234): its entry set lies in the root folder, which the format clears
#
# File content is _fat_content TAG SIZE (fat.sh): the TAG is the file's path as written.

_exfatdeep_fill()
{
    local m=$1 cs=$2 i
    mkdir -p "$m/DCIM/100CAM01" "$m/DOCS/SUB"
    for i in 1 2 3 4 5; do
        _exfat_put "$m" "DCIM/100CAM01/IMG_000$i.JPG" $((i * 4000 - 1000))
    done
    _exfat_put "$m" DOCS/report.txt 6000
    _exfat_put "$m" DOCS/SUB/notes.txt 700
    _exfat_put "$m" DOCS/SUB/long.bin 40000
    _exfat_put "$m" DOCS/fraga.bin $((3 * cs))
    _exfat_put "$m" DOCS/pad.bin $((2 * cs))
    rm "$m/DOCS/fraga.bin"
    _exfat_put "$m" DOCS/frag.bin $((6 * cs + 100))
    _exfat_put "$m" root.txt 1234
}

image_exfat_formatted()
{
    _exfat_new "$1" 24M 4K
    _exfat_with "$1" _exfatdeep_fill 4096
    mkfs.exfat -c 4K -L ORLAVENT "$1" >/dev/null
}

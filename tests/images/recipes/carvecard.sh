# A camera card formatted by mistake, for carving: every file in its root folder, which the
# format clears, so nothing but the files' contents is left. Sourced by make-image.sh.
#
# carvecard (272 MiB FAT32, 4 KiB clusters): the 34 files of tests/images/carve_content.py
# (JPEG, PNG, GIF, BMP, PDF, DOCX, XLSX, ODT, ZIP, SQLite, GZIP, WAV, MP3, MP4, UTF-8 text,
# random data) copied into the root in the order of their names, one after the other; then
#   03-frag-a.jpg split in two around 04-chart.png (a gap of about 200 clusters),
#   10-frag-b.jpg split in three around 11-noise-2.bin and 12-notes-3.txt (gaps of 6 and 2),
# their clusters moved and the FAT chains and entries rewritten so that the volume reads them
# back whole (checked with mcopy before the format); then quick-formatted with mkfs.fat, same
# geometry.
#
# Beside the image (named after IMAGE_OUTPUT): IMAGE.files/ holds the originals, IMAGE.sha256
# their digests (sha256sum's format), IMAGE.layout each file's clusters before the format
# (mshowfat's format). The files named *noise*.bin are random data: no carving can tell where
# they end.

# _carvecard_build IMAGE SIZE_MIB SETS ORIGINALS LAYOUT [FILL]: the card of SIZE_MIB with SETS
# sets of carve_content.py's files (prefixed sNN- when more than one; FILL random bytes more in
# each set), the originals kept in ORIGINALS, each file's clusters before the format written to
# LAYOUT. Every set's two JPEGs are fragmented as described above.
_carvecard_build()
{
    local img=$1 mib=$2 sets=$3 orig=$4 layout=$5 fill=${6:-0} here prefix k name
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    rm -rf "$orig"
    python3 "$here/carve_content.py" "$orig" --sets "$sets" --fill "$fill"
    rm -f "$img"
    mkfs.fat -C --invariant -F 32 -s 8 -n CARVECARD "$img" $((mib << 10)) >/dev/null
    local -a names
    mapfile -t names < <(cd "$orig" && LC_ALL=C ls)
    if ((${#names[@]} > 40)); then
        # More entries than one cluster of the root holds: its further clusters are taken first
        # (empty files of the same names, then deleted: mtools reuses their slots), so that
        # none lies between the pieces of a file to be fragmented.
        local empty
        empty=$(mktemp -d)
        (cd "$empty" && touch -- "${names[@]}" && mcopy -i "$img" "${names[@]}" ::/)
        rm -rf "$empty"
        mdel -i "$img" "${names[@]/#/::/}"
    fi
    (cd "$orig" && TZ=UTC mcopy -i "$img" "${names[@]}" ::/)
    for ((k = 1; k <= sets; k++)); do
        prefix=
        ((sets > 1)) && prefix=$(printf 's%02d-' "$k")
        _carvecard_fragment "$img" "${prefix}03-frag-a.jpg" 0.4 "${prefix}04-chart.png"
        _carvecard_fragment "$img" "${prefix}10-frag-b.jpg" 0.3,0.7 \
            "${prefix}11-noise-2.bin" "${prefix}12-notes-3.txt"
    done
    _carvecard_check "$img" "$orig" "${names[@]}"
    for name in "${names[@]}"; do
        echo "$name $(mshowfat -i "$img" "::/$name" | sed 's/^[^<]*//')"
    done >"$layout"
    # The quick format: a new FAT and root folder over the same geometry.
    mkfs.fat --invariant -F 32 -s 8 -n CARVECARD "$img" >/dev/null
}

# _carvecard_check IMAGE ORIGINALS NAME...: every file reads back from the volume as written.
_carvecard_check()
{
    local img=$1 orig=$2 name back
    shift 2
    back=$(mktemp)
    for name in "$@"; do
        mcopy -n -i "$img" "::/$name" "$back"
        if ! cmp -s "$back" "$orig/$name"; then
            echo "carvecard.sh: $name does not read back as written" >&2
            rm -f "$back"
            return 1
        fi
    done
    rm -f "$back"
}

# _carvecard_fragment IMAGE FILE SPLITS GAP...: FILE and the GAP files lie one after the other
# on the volume (FILE first); FILE is cut where SPLITS say (comma-separated shares of its
# clusters) and a GAP file put between each piece and the next (tests/images/fat_fragment.py).
_carvecard_fragment()
{
    local img=$1 file=$2 splits=$3 name
    shift 3
    local -a runs=()
    for name in "$file" "$@"; do
        runs+=("$(mshowfat -i "$img" "::/$name" | sed 's/^[^<]*//')")
    done
    python3 "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/fat_fragment.py" "$img" "$splits" \
        "${runs[@]}"
}

image_carvecard()
{
    _carvecard_build "$1" 272 1 "$IMAGE_OUTPUT.files" "$IMAGE_OUTPUT.layout"
    (cd "$IMAGE_OUTPUT.files" && LC_ALL=C sha256sum -- *) >"$IMAGE_OUTPUT.sha256"
}

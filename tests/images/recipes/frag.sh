# Fragmented deleted files on FAT16. Sourced by make-image.sh; uses _fat_new, _fat_apply and
# _fat_content from fat.sh.
#
# fat_frag (FAT16, 4 MiB, 512-byte clusters): mtools writes the files, then their clusters are
# moved onto chosen clusters (data copied, both FATs and the entry's first cluster rewritten)
# and their creation times set, then mtools deletes them, freeing the chains:
#   "Interleaved A.bin" 1500 B at 100 102 104, created 2021-03-04 05:06:10  \ written at once
#   "Interleaved B.bin" 1400 B at 101 103 105, created 2021-03-04 05:06:14  /
#   "Single.bin"         400 B at 111,         created 2021-03-01 10:00:00
#   "Frag One.bin"      1200 B at 110 112 113, created 2021-03-04 06:00:00
#   "Multi.bin"          900 B at 121 122,     created 2021-03-01 10:00:00
#   "Frag Two.bin"      1800 B at 120 123-125, created 2021-03-04 07:00:00
#   "Frag Three.bin"    1300 B at 130 133 134, created 2021-03-04 08:00:00, around
#   "Live Before.bin"   1000 B at 131 132 (live), created 2021-03-01 10:00:00
#   "Frag Four.bin"     1500 B at 140-142, created 2021-03-04 09:00:00, deleted, then cluster 141
#                       overwritten by "Live After.bin" (300 B, live), created 2021-03-05
#   "Gone Dir\Frag Five.bin" 1300 B at 151 153 154, created 2021-03-04 10:00:00, around
#   "Live Three.bin"     500 B at 152 (live, in the root), created 2021-03-01; "Gone Dir" is
#                       deleted whole.
# Content is _fat_content of the path (as in fat.sh).

# Geometry of the FAT volume $1 into FR_* (byte offsets).
_frag_geometry()
{
    local v
    read -r -a v <<<"$(od -An -tu1 -j 11 -N 14 -v "$1")"
    FR_BPS=$((v[0] + 256 * v[1]))
    FR_SPC=${v[2]}
    local reserved=$((v[3] + 256 * v[4])) fats=${v[5]} roots=$((v[6] + 256 * v[7]))
    FR_FATSZ=$(((v[11] + 256 * v[12]) * FR_BPS))
    FR_FAT=$((reserved * FR_BPS))
    FR_FATS=$fats
    FR_ROOT=$((FR_FAT + fats * FR_FATSZ))
    FR_DATA=$((FR_ROOT + roots * 32))
    FR_CB=$((FR_SPC * FR_BPS))
}

# _frag_16 IMG OFFSET VALUE: a little-endian 16-bit value.
_frag_put16()
{
    printf "\\$(printf '%03o' $(($3 & 255)))\\$(printf '%03o' $((($3 >> 8) & 255)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# _frag_fat IMG CLUSTER VALUE: sets the FAT16 entry of CLUSTER in every FAT.
_frag_fat()
{
    local i
    for ((i = 0; i < FR_FATS; i++)); do
        _frag_put16 "$1" $((FR_FAT + i * FR_FATSZ + 2 * $2)) "$3"
    done
}

# _frag_chain IMG PATH: the clusters of PATH as mshowfat lists them, one a line.
_frag_chain()
{
    local runs run
    runs=$(mshowfat -i "$1" "::/$2" | sed 's/^[^<]*//; s/[<>]/ /g')
    for run in ${runs//,/ }; do
        seq "${run%-*}" "${run#*-}"
    done
}

# _frag_entry IMG FIRST: byte offset of the short entry whose first cluster is FIRST, looked for
# in the root folder and the first 64 clusters (where mtools put the folders).
_frag_entry()
{
    local at
    at=$(od -An -tu1 -w32 -v -j "$FR_ROOT" -N $((FR_DATA - FR_ROOT + 64 * FR_CB)) "$1" |
        awk -v f="$2" '$12 != 15 && $1 != 229 && $1 != 0 && $27 + 256 * $28 == f && $21 + $22 == 0 \
            { print NR - 1; exit }')
    [ -n "$at" ] || { echo "frag.sh: no entry with first cluster $2" >&2; return 1; }
    echo $((FR_ROOT + 32 * at))
}

# _frag_move IMG PATH CLUSTER...: moves the data of PATH onto the clusters given, in order.
_frag_move()
{
    local img=$1 path=$2 old new i entry
    shift 2
    read -r -a old <<<"$(_frag_chain "$img" "$path" | tr '\n' ' ')"
    new=("$@")
    [ ${#old[@]} -eq ${#new[@]} ] || { echo "frag.sh: $path has ${#old[@]} clusters" >&2; return 1; }
    entry=$(_frag_entry "$img" "${old[0]}") || return 1
    for ((i = 0; i < ${#old[@]}; i++)); do
        dd if="$img" of="$img" bs="$FR_CB" skip=$((FR_DATA / FR_CB + old[i] - 2)) \
            seek=$((FR_DATA / FR_CB + new[i] - 2)) count=1 conv=notrunc status=none
        _frag_fat "$img" "${old[i]}" 0
    done
    for ((i = 0; i < ${#new[@]}; i++)); do
        if [ $((i + 1)) -lt ${#new[@]} ]; then
            _frag_fat "$img" "${new[i]}" "${new[i + 1]}"
        else
            _frag_fat "$img" "${new[i]}" 65535
        fi
    done
    _frag_put16 "$img" $((entry + 26)) "${new[0]}"
}

# _frag_created IMG PATH "YYYY MM DD hh mm ss": sets the creation date and time of PATH.
_frag_created()
{
    local img=$1 entry y mo d h mi s
    read -r y mo d h mi s <<<"$3"
    entry=$(_frag_entry "$img" "$(_frag_chain "$img" "$2" | head -n 1)") || return 1
    printf '\000' | dd of="$img" bs=1 seek=$((entry + 13)) conv=notrunc status=none
    _frag_put16 "$img" $((entry + 14)) $(((10#$h << 11) | (10#$mi << 5) | (10#$s / 2)))
    _frag_put16 "$img" $((entry + 16)) $((((y - 1980) << 9) | (10#$mo << 5) | 10#$d))
}

image_fat_frag()
{
    local img=$1
    _fat_new "$img" 16 4096 1 ORLFRAG
    _frag_geometry "$img"
    _fat_apply "$img" <<'EOF2'
md|Gone Dir
put|Gone Dir/Frag Five.bin|1300
put|Interleaved A.bin|1500
put|Interleaved B.bin|1400
put|Frag One.bin|1200
put|Single.bin|400
put|Frag Two.bin|1800
put|Multi.bin|900
put|Frag Three.bin|1300
put|Live Before.bin|1000
put|Frag Four.bin|1500
put|Live After.bin|300
put|Live Three.bin|500
EOF2
    _frag_move "$img" "Interleaved A.bin" 100 102 104
    _frag_move "$img" "Interleaved B.bin" 101 103 105
    _frag_move "$img" "Single.bin" 111
    _frag_move "$img" "Frag One.bin" 110 112 113
    _frag_move "$img" "Multi.bin" 121 122
    _frag_move "$img" "Frag Two.bin" 120 123 124 125
    _frag_move "$img" "Live Before.bin" 131 132
    _frag_move "$img" "Frag Three.bin" 130 133 134
    _frag_move "$img" "Frag Four.bin" 140 141 142
    _frag_move "$img" "Live Three.bin" 152
    _frag_move "$img" "Gone Dir/Frag Five.bin" 151 153 154
    _frag_created "$img" "Interleaved A.bin" "2021 03 04 05 06 10"
    _frag_created "$img" "Interleaved B.bin" "2021 03 04 05 06 14"
    _frag_created "$img" "Single.bin" "2021 03 01 10 00 00"
    _frag_created "$img" "Frag One.bin" "2021 03 04 06 00 00"
    _frag_created "$img" "Multi.bin" "2021 03 01 10 00 00"
    _frag_created "$img" "Frag Two.bin" "2021 03 04 07 00 00"
    _frag_created "$img" "Live Before.bin" "2021 03 01 10 00 00"
    _frag_created "$img" "Frag Three.bin" "2021 03 04 08 00 00"
    _frag_created "$img" "Frag Four.bin" "2021 03 04 09 00 00"
    _frag_created "$img" "Live Three.bin" "2021 03 01 10 00 00"
    _frag_created "$img" "Gone Dir/Frag Five.bin" "2021 03 04 10 00 00"
    _fat_apply "$img" <<'EOF2'
del|Frag Four.bin
EOF2
    _frag_move "$img" "Live After.bin" 141
    _frag_created "$img" "Live After.bin" "2021 03 05 10 00 00"
    _fat_apply "$img" <<'EOF2'
del|Interleaved A.bin
del|Interleaved B.bin
del|Frag One.bin
del|Single.bin
del|Frag Two.bin
del|Multi.bin
del|Frag Three.bin
deltree|Gone Dir
EOF2
}

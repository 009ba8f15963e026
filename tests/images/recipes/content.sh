# Deleted pictures and archives on FAT16 whose contents a validator judges. Sourced by
# make-image.sh; uses _fat_new and _fat_content (fat.sh) and the _frag_* helpers (frag.sh).
#
# fat_content (FAT16, 4 MiB, 512-byte clusters): the files are made at build time (ImageMagick
# pictures, a Python zip) and kept as written in IMAGE_OUTPUT.d/; mtools writes them, then
# their clusters are moved onto chosen ones, then all but the live ones are deleted. Text
# files ("Live *.txt", created 2021-03-01, Live Over 2021-05-02) are _fat_content of their name; the others are
# created 2021-05-01 from 10:00 on. With n a file's clusters:
#   "Whole.jpg"    at 300 .. 300+n-1 (one stretch)
#   "Over.jpg"     at 400 .. 400+n-1, deleted, then "Live Over.txt" (live) moved onto 401
#   "Inter A.jpg"  at 500 502 504 ..  \ written at once (4 s apart), alternating; B is text
#   "Inter B.txt"  at 501 503 505 ..  / of as many clusters as A
#   "Around.zip"   at 600, 602 ..     around "Live Mid.txt" (live) at 601
#   "Wrong.jpg"    at 700, 703 ..     around "Live W1.txt" (live) at 701; 702 random bytes
#   "Wrong.png"    at 800, 804 ..     around "Live W2.txt" (live) at 801; 802 803 random bytes
#   "Wrong.zip"    at 900, 903 ..     around "Live W3.txt" (live) at 901; 902 random bytes
#   "Gone.jpg"     at 1000 .. 1000+n-1, its third cluster then written over with random bytes
#   "Hop.png"      at 1100, 1102 ..   around "Small.txt" (deleted, created 2021-03-01) at 1101
# A layout search that steps over the live files alone lays Wrong.* out through the random
# bytes: only their contents tell.

# _content_make DIR: the files as written, into DIR.
_content_make()
{
    local dir=$1
    mkdir -p "$dir"
    convert -size 96x80 -seed 11 plasma: -strip -quality 90 "$dir/Whole.jpg"
    convert -size 96x80 -seed 12 plasma: -strip -quality 90 "$dir/Over.jpg"
    convert -size 96x80 -seed 13 plasma: -strip -quality 90 "$dir/Inter A.jpg"
    convert -size 96x80 -seed 14 plasma: -strip -quality 90 "$dir/Wrong.jpg"
    convert -size 96x80 -seed 15 plasma: -strip -quality 90 "$dir/Gone.jpg"
    convert -size 24x24 -seed 16 plasma: -strip "$dir/Wrong.png"
    convert -size 24x24 -seed 17 plasma: -strip "$dir/Hop.png"
    python3 - "$dir" <<'PY'
import random, sys, zipfile
rnd = random.Random(30)
for name in ("Around.zip", "Wrong.zip"):
    with zipfile.ZipFile(sys.argv[1] + "/" + name, "w") as z:
        info = zipfile.ZipInfo("notes.txt", (2021, 5, 1, 10, 0, 0))
        z.writestr(info, "".join("line %04d of %s\n" % (i, name) for i in range(200)),
                   zipfile.ZIP_DEFLATED)
        info = zipfile.ZipInfo("noise.bin", (2021, 5, 1, 10, 0, 0))
        z.writestr(info, rnd.randbytes(1500), zipfile.ZIP_STORED)
PY
}

# _content_clusters FILE: clusters of FR_CB bytes FILE needs.
_content_clusters()
{
    local size
    size=$(stat -c %s "$1")
    echo $(((size + FR_CB - 1) / FR_CB))
}

# _content_around FIRST SKIP N: FIRST, then N-1 clusters from FIRST+1+SKIP on.
_content_around()
{
    echo "$1"
    [ "$3" -gt 1 ] && seq $(($1 + 1 + $2)) $(($1 + $2 + $3 - 1))
    return 0
}

# _content_noise IMG CLUSTER...: random bytes over the clusters given.
_content_noise()
{
    local img=$1 c
    shift
    for c in "$@"; do
        python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(int(sys.argv[1])).randbytes(int(sys.argv[2])))' \
            "$c" "$FR_CB" | dd of="$img" bs="$FR_CB" seek=$((FR_DATA / FR_CB + c - 2)) \
            conv=notrunc status=none
    done
}

image_fat_content()
{
    local img=$1 dir="${IMAGE_OUTPUT:-$1}.d" src f n
    rm -rf "$dir"
    _content_make "$dir"
    _fat_new "$img" 16 4096 1 ORLCONTENT
    _frag_geometry "$img"
    n=$(_content_clusters "$dir/Inter A.jpg")
    _fat_content "Inter B.txt" $((n * FR_CB)) >"$dir/Inter B.txt"
    src=$(mktemp -d)
    for f in "Live Over" "Live Mid" "Live W1" "Live W2" "Live W3" Small; do
        _fat_content "$f.txt" 300 >"$src/$f.txt"
        mcopy -i "$img" "$src/$f.txt" "::/$f.txt"
    done
    rm -rf "$src"
    for f in Whole.jpg Over.jpg "Inter A.jpg" "Inter B.txt" Around.zip Wrong.jpg Wrong.png \
        Wrong.zip Gone.jpg Hop.png; do
        mcopy -i "$img" "$dir/$f" "::/$f"
    done
    _frag_move "$img" "Live Mid.txt" 601
    _frag_move "$img" "Live W1.txt" 701
    _frag_move "$img" "Live W2.txt" 801
    _frag_move "$img" "Live W3.txt" 901
    _frag_move "$img" "Small.txt" 1101
    _place() { # NAME: onto the clusters that the command after it lists
        local name=$1 at
        shift
        mapfile -t at < <("$@")
        _frag_move "$img" "$name" "${at[@]}"
    }
    n=$(_content_clusters "$dir/Whole.jpg")
    _place Whole.jpg seq 300 $((300 + n - 1))
    n=$(_content_clusters "$dir/Over.jpg")
    _place Over.jpg seq 400 $((400 + n - 1))
    n=$(_content_clusters "$dir/Inter A.jpg")
    _place "Inter A.jpg" seq 500 2 $((500 + 2 * n - 2))
    _place "Inter B.txt" seq 501 2 $((501 + 2 * n - 2))
    _place Around.zip _content_around 600 1 "$(_content_clusters "$dir/Around.zip")"
    _place Wrong.jpg _content_around 700 2 "$(_content_clusters "$dir/Wrong.jpg")"
    _place Wrong.png _content_around 800 3 "$(_content_clusters "$dir/Wrong.png")"
    _place Wrong.zip _content_around 900 2 "$(_content_clusters "$dir/Wrong.zip")"
    n=$(_content_clusters "$dir/Gone.jpg")
    _place Gone.jpg seq 1000 $((1000 + n - 1))
    _place Hop.png _content_around 1100 1 "$(_content_clusters "$dir/Hop.png")"
    unset -f _place
    for f in "Live Mid" "Live W1" "Live W2" "Live W3" Small; do
        _frag_created "$img" "$f.txt" "2021 03 01 10 00 00"
    done
    _frag_created "$img" Whole.jpg "2021 05 01 10 00 00"
    _frag_created "$img" Over.jpg "2021 05 01 10 01 00"
    _frag_created "$img" "Inter A.jpg" "2021 05 01 10 02 00"
    _frag_created "$img" "Inter B.txt" "2021 05 01 10 02 04"
    _frag_created "$img" Around.zip "2021 05 01 10 03 00"
    _frag_created "$img" Wrong.jpg "2021 05 01 10 04 00"
    _frag_created "$img" Wrong.png "2021 05 01 10 05 00"
    _frag_created "$img" Wrong.zip "2021 05 01 10 06 00"
    _frag_created "$img" Gone.jpg "2021 05 01 10 07 00"
    _frag_created "$img" Hop.png "2021 05 01 10 08 00"
    mdel -i "$img" ::/Over.jpg
    _frag_move "$img" "Live Over.txt" 401
    _frag_created "$img" "Live Over.txt" "2021 05 02 10 00 00"
    for f in Whole.jpg "Inter A.jpg" "Inter B.txt" Around.zip Wrong.jpg Wrong.png Wrong.zip \
        Gone.jpg Hop.png Small.txt; do
        mdel -i "$img" "::/$f"
    done
    _content_noise "$img" 702 802 803 902 1002
}

# shellcheck shell=bash disable=SC2034
# Shared parts of the end-to-end benchmarks (sourced): where work files go, the Release build
# of orlavent-cli, the generated FAT32 and NTFS volumes (built once and reused) and a timing
# helper that runs a command three times and reports the median wall time, CPU time
# (user + system) and peak resident memory.
#
# orlavent-cli is built in $WORK/build unless $ORL_CLI names one already built.
# Work files go to $WORK (default: build-bench-e2e in the repository; /build*/ is ignored by
# git). Recovered files go to $BENCH_DEST (default: $WORK/dest, the same file system as the
# images); a tmpfs there takes the file system's own cost of creating files out of the figures.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$bench_dir/.." && pwd)
work=${WORK:-$repo/build-bench-e2e}
mkdir -p "$work"
dest=${BENCH_DEST:-$work/dest}
export MTOOLS_SKIP_CHECK=1
# A failure inside $(...) (a volume builder) stops the calling script too.
shopt -s inherit_errexit

cli=${ORL_CLI:-}

# Volume shape, the same on FAT32 and NTFS: FILES small files in DIRS folders, every second
# one deleted, plus three large files of which two are deleted.
files=${BENCH_FILES:-200000}
dirs=${BENCH_DIRS:-200}
big_mib=(300 200 200)

# The Release build of orlavent-cli.
bench_build()
{
    echo "== building orlavent-cli (Release) in $work/build"
    cmake -S "$repo" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DORL_BUILD_TESTS=OFF -DORL_BUILD_GUI=OFF >/dev/null
    cmake --build "$work/build" --target orlavent-cli -j2 >/dev/null
    cli=$work/build/orlavent-cli
}

# The libntfs-3g fixture program that populates NTFS volumes without a mount.
ntfs_fixture()
{
    if [[ ! -x "$work/ntfs-build" || "$repo/tests/images/ntfs-build.c" -nt "$work/ntfs-build" ]]
    then
        cc -O2 -o "$work/ntfs-build" "$repo/tests/images/ntfs-build.c" -lntfs-3g >&2
    fi
}

# Prints (and builds on first use) the NTFS volume: 4 KiB clusters, small files of 200 bytes
# (resident in their MFT records), large files of readable text written first so that each
# lies in one run.
ntfs_image()
{
    local img=$work/ntfs-$files-$dirs.img
    if [[ ! -f "$img" ]]; then
        local per=$((files / dirs)) start d i
        start=$(date +%s)
        echo "== building $img: $files files in $dirs folders, every second one deleted" >&2
        ntfs_fixture
        rm -f "$img.tmp"
        truncate -s 3G "$img.tmp"
        mkntfs -F -Q -q -c 4096 -L bench "$img.tmp" >/dev/null 2>&1
        {
            echo "mkdir /big"
            for i in "${!big_mib[@]}"; do
                echo "file $((big_mib[i] << 20)) /big/large$i.bin"
            done
            for ((d = 0; d < dirs; d++)); do
                printf 'mkdir /dir%04d\nmkfiles %d 200 /dir%04d\n' "$d" "$per" "$d"
            done
            for ((d = 0; d < dirs; d++)); do
                printf 'rmfiles %d 2 /dir%04d\n' "$per" "$d"
            done
            for ((i = 0; i < ${#big_mib[@]} - 1; i++)); do
                echo "rm /big/large$i.bin"
            done
        } | "$work/ntfs-build" "$img.tmp" >&2
        mv "$img.tmp" "$img"
        echo "   built in $(($(date +%s) - start)) s" >&2
    fi
    printf '%s\n' "$img"
}

# Prints (and builds on first use) the FAT32 volume: 4 KiB clusters, small files of 1000 to
# 3000 bytes with long names ("000123 notes.txt": the first six characters differ, so that
# mtools finds each short name at the first try), copied by one mcopy -s per folder and
# deleted with mdel wildcards; large files copied first so that each is one contiguous stretch.
fat_image()
{
    local img=$work/fat32-$files-$dirs.img
    if [[ ! -f "$img" ]]; then
        local per=$((files / dirs)) start d i tree
        start=$(date +%s)
        echo "== building $img: $files files in $dirs folders, every second one deleted" >&2
        tree=$work/fat-tree
        rm -rf "$tree" "$img.tmp"
        mkdir -p "$tree"
        mkfs.fat -C -F 32 -s 8 -n BENCH "$img.tmp" $((4 << 20)) >/dev/null
        mmd -i "$img.tmp" ::/big
        for i in "${!big_mib[@]}"; do
            head -c $((big_mib[i] << 20)) /dev/urandom >"$tree/large$i.bin"
            mcopy -i "$img.tmp" "$tree/large$i.bin" ::/big/
            rm -f "$tree/large$i.bin"
        done
        # The small files: written on the host by one awk run, copied folder by folder.
        LC_ALL=C awk -v root="$tree" -v dirs="$dirs" -v per="$per" 'BEGIN {
            for (d = 0; d < dirs; d++) {
                dir = sprintf("%s/dir%04d", root, d)
                system("mkdir -p " dir)
                for (f = 0; f < per; f++) {
                    name = sprintf("%s/%06d notes.txt", dir, f)
                    size = 1000 + (f * 7919) % 2001
                    line = sprintf("%s line of readable benchmark content\n", name)
                    s = ""
                    while (length(s) < size) s = s line
                    printf "%s", substr(s, 1, size) > name
                    close(name)
                }
            }
        }'
        for ((d = 0; d < dirs; d++)); do
            mcopy -s -i "$img.tmp" "$(printf '%s/dir%04d' "$tree" "$d")" ::/
        done
        for ((d = 0; d < dirs; d++)); do
            mdel -i "$img.tmp" "$(printf '::/dir%04d/*[02468] notes.txt' "$d")"
        done
        for ((i = 0; i < ${#big_mib[@]} - 1; i++)); do
            mdel -i "$img.tmp" "::/big/large$i.bin"
        done
        rm -rf "$tree"
        mv "$img.tmp" "$img"
        echo "   built in $(($(date +%s) - start)) s" >&2
    fi
    printf '%s\n' "$img"
}

# Prints (and builds on first use) a small volume of type KIND (fat32 or ntfs) that holds
# only large0.bin (the first large file, deleted), so that the search in front of its
# recovery costs next to nothing and the recovery's copying can be compared with dd's.
large_image()
{
    local kind=$1
    local img=$work/$kind-large.img
    if [[ ! -f "$img" ]]; then
        echo "== building $img: one deleted file of ${big_mib[0]} MiB" >&2
        rm -f "$img.tmp"
        if [[ $kind == ntfs ]]; then
            ntfs_fixture
            truncate -s 1G "$img.tmp"
            mkntfs -F -Q -q -c 4096 -L large "$img.tmp" >/dev/null 2>&1
            printf 'mkdir /big\nfile %d /big/large0.bin\nrm /big/large0.bin\n' \
                   $((big_mib[0] << 20)) | "$work/ntfs-build" "$img.tmp" >&2
        else
            mkfs.fat -C -F 32 -s 8 -n LARGE "$img.tmp" $((1 << 20)) >/dev/null
            mmd -i "$img.tmp" ::/big
            head -c $((big_mib[0] << 20)) /dev/urandom >"$work/large0.bin"
            mcopy -i "$img.tmp" "$work/large0.bin" ::/big/
            rm -f "$work/large0.bin"
            mdel -i "$img.tmp" ::/big/large0.bin
        fi
        mv "$img.tmp" "$img"
    fi
    printf '%s\n' "$img"
}

# data_extents IMAGE INODE: "offset length" lines of the bytes of a file's data as istat lists
# them (FAT: sectors, NTFS: the clusters of its unnamed $DATA), contiguous runs merged and the
# total cut to the file's size.
data_extents()
{
    local img=$1 inode=$2 unit info
    info=$(istat "$img" "$inode")
    if [[ $info == *$'\nSectors:'* ]]; then
        unit=512
    else
        unit=$(fsstat "$img" | sed -n 's/^Cluster Size: //p')
    fi
    printf '%s\n' "$info" | LC_ALL=C awk -v unit="$unit" '
        /^Size: / && !size { size = $2 }
        /^Type: \$DATA .*Non-Resident/ && !list {
            for (i = 1; i < NF; i++) if ($i == "size:") size = $(i + 1)
            list = 1
            next
        }
        /^Sectors:/ { list = 1; next }
        list && /^[0-9 ]+$/ {
            for (i = 1; i <= NF; i++) {
                if (n && $i == last + 1) { len[n]++ } else { n++; start[n] = $i; len[n] = 1 }
                last = $i
            }
            next
        }
        list && n { list = 0 }
        END {
            for (r = 1; r <= n && size > 0; r++) {
                bytes = len[r] * unit
                if (bytes > size) bytes = size
                printf "%d %d\n", start[r] * unit, bytes
                size -= bytes
            }
        }'
}

# copy_extents IMAGE OUT < extents: dd of every extent, in order, into OUT.
copy_extents()
{
    local img=$1 out=$2 offset length at=0
    : >"$out"
    while read -r offset length; do
        dd if="$img" of="$out" bs=1M iflag=skip_bytes,count_bytes oflag=seek_bytes \
           conv=notrunc skip="$offset" count="$length" seek="$at" status=none
        at=$((at + length))
    done
}

# timed LABEL COMMAND...: runs COMMAND three times (standard output to $work/out-LABEL.txt)
# and prints one table row with the median wall time, the median CPU time (user + system: the
# fairer figure on a shared machine), the largest peak RSS and the output's line count.
timed()
{
    local label=$1
    shift
    local key=${label//[^A-Za-z0-9]/_}
    local walls=() cpus=() rss=0 r log status
    for r in 1 2 3; do
        log=$work/time-$key-$r.log
        [[ -n ${BENCH_BEFORE:-} ]] && eval "$BENCH_BEFORE"
        status=0
        /usr/bin/time -v "$@" >"$work/out-$key.txt" 2>"$log" || status=$?
        if ((status != 0)); then
            echo "   $label: exit status $status (see $log)" >&2
        fi
        walls+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {
            n = split($2, p, ":"); s = 0
            for (i = 1; i <= n; i++) s = s * 60 + p[i]
            printf "%.2f", s }' "$log")")
        cpus+=("$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%.2f", s}' "$log")")
        local k
        k=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
        ((k > rss)) && rss=$k
    done
    local wall cpu
    wall=$(printf '%s\n' "${walls[@]}" | sort -g | sed -n 2p)
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -g | sed -n 2p)
    printf '| %s | %s s | %s s | %s MiB | %s |\n' "$label" "$wall" "$cpu" "$((rss / 1024))" \
        "$(wc -l <"$work/out-$key.txt")"
    # Kept for callers that compute ratios.
    last_wall=$wall
    last_cpu=$cpu
}

table_head()
{
    echo "| tool | wall (median of 3) | CPU user+sys (median) | peak RSS | output lines |"
    echo "|---|---:|---:|---:|---:|"
}

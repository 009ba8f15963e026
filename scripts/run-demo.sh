#!/usr/bin/env bash
# The main job: installs what it needs, builds build/orlavent-cli, makes a FAT32 and an NTFS demo
# volume with deleted files under build/demo/, searches them and recovers their files into
# build/demo/recovered. With a display it then opens the wizard (build/orlavent) on them.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
# Everything but the GUI: the whole project is configured, so every library it finds must be
# there even though only the command-line program is built.
install_deps build images test
# With a display the wizard opens on the demo volumes at the end; it needs the GUI packages
# before the project is configured.
gui=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    gui=1
    install_deps gui
fi

build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
# The command-line program and the demo volumes (mkfs.fat + mtools, mkntfs + libntfs-3g).
cmake --build "$build" -j "${ORL_JOBS:-2}" --target orlavent-cli demo-images

# Paths are shown relative to the repository root when the build folder lies inside it.
cd "$root"
rel="${build#"$root"/}"
images=("$rel/demo/demo_fat32.img" "$rel/demo/demo_ntfs.img")
dest="$rel/demo/recovered"

echo "== orlavent-cli scan ${images[*]}"
"$build/orlavent-cli" scan "${images[@]}"

# A fresh destination each run, so that the listing below shows this run's files only.
rm -rf "$dest"
echo
echo "== orlavent-cli recover --to $dest ${images[*]}"
"$build/orlavent-cli" recover --to "$dest" "${images[@]}"

echo
echo "== recovered files under $dest"
(cd "$dest" && find . -type f | LC_ALL=C sort | while read -r f; do
    printf '%10s  %s\n' "$(stat -c %s "$f")" "${f#./}"
done)

if [ "$gui" -eq 1 ]; then
    cmake --build "$build" -j "${ORL_JOBS:-2}" --target orlavent
    echo "== orlavent: the wizard on the demo volumes (close its window to end)"
    "$build/orlavent" "${images[@]}"
else
    echo "== no display: the wizard (build/orlavent SOURCE...) was not opened"
fi

#!/usr/bin/env bash
# The main job: installs what it needs, builds build/orlavent-cli, makes the demo volumes with
# mkfs.fat and mtools under build/demo/ and prints what their boot sectors say. With a display
# it then opens the wizard (build/orlavent) on the FAT32 and NTFS demo volumes.
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
cmake --build "$build" -j "${ORL_JOBS:-2}" --target orlavent-cli

# Paths are shown relative to the repository root when the build folder lies inside it.
cd "$root"
demo="${build#"$root"/}/demo"
mkdir -p "$demo"
images=()
for name in demo_fat32; do
    echo "== building $name with mkfs.fat and mtools"
    bash tests/images/make-image.sh "$name" "$demo/$name.img"
    images+=("$demo/$name.img")
done

echo "== orlavent-cli bootinfo ${images[*]}"
"$build/orlavent-cli" bootinfo "${images[@]}"

if [ "$gui" -eq 1 ]; then
    cmake --build "$build" -j "${ORL_JOBS:-2}" --target orlavent
    echo "== building demo_ntfs"
    bash "$root/tests/images/make-image.sh" demo_ntfs "$demo/demo_ntfs.img"
    echo "== orlavent: the wizard on the demo volumes (close its window to end)"
    "$build/orlavent" "${images[@]}" "$demo/demo_ntfs.img"
else
    echo "== no display: the wizard (build/orlavent SOURCE...) was not opened"
fi

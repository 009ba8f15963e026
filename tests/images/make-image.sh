#!/usr/bin/env bash
# Builds one named test volume with real tools: make-image.sh NAME OUTPUT.
# Recipes live in recipes/*.sh; each defines a function image_NAME (dashes become underscores)
# that writes the volume to the path given as its first argument. A recipe that keeps further
# files beside its output (the segments of an Expert Witness image) names them after
# IMAGE_OUTPUT, the final path; its first argument is a temporary name moved there at the end.
set -euo pipefail
name=${1:?usage: make-image.sh NAME OUTPUT}
out=${2:?usage: make-image.sh NAME OUTPUT}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for recipe in "$here"/recipes/*.sh; do
    # shellcheck source=/dev/null
    . "$recipe"
done
fn="image_${name//-/_}"
if ! declare -F "$fn" >/dev/null; then
    echo "make-image.sh: no recipe for '$name'" >&2
    exit 2
fi
export IMAGE_OUTPUT=$out
tmp="$out.tmp.$$"
rm -f "$tmp"
trap 'rm -f "$tmp"' EXIT
"$fn" "$tmp"
mv "$tmp" "$out"
trap - EXIT

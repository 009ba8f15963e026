# Pictures for the picture validators' tests, drawn by ImageMagick from a seeded plasma so that
# every build makes the same bytes. Sourced by make-image.sh; each writes one file.
_media_draw() {
    convert -seed 7 -size 96x64 plasma: "$@"
}

image_media_png() { _media_draw "PNG:$1"; }
# Two frames with a local colour table each: several images and extensions to walk.
image_media_gif() {
    convert -seed 7 -size 96x64 plasma: -seed 8 -size 96x64 plasma: -colors 64 -delay 10 "GIF:$1"
}
image_media_bmp() { _media_draw "BMP:$1"; }   # BITMAPV5HEADER
image_media_bmp3() { _media_draw "BMP3:$1"; } # BITMAPINFOHEADER
image_media_tiff() { _media_draw -compress none "TIFF:$1"; }
# Big-endian, tiled and deflated.
image_media_tiff_tiled() {
    _media_draw -endian MSB -define tiff:tile-geometry=32x32 -compress zip "TIFF:$1"
}

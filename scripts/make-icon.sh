#!/usr/bin/env bash
# Draws the program's icon (a blue tile with a white K and an orange boot arrow) and writes
# platform/win32/kestrix.ico in the sizes Windows asks for. The .ico is committed; run this only to
# change the drawing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#1f5fbf' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill white -draw 'rectangle 64,48 100,208' \
  -draw 'polygon 100,128 170,48 212,48 132,128 212,208 170,208' \
  -fill '#ff9a1f' -draw 'polygon 150,150 236,150 236,236' \
  "$tmp/icon.png"
for size in 16 24 32 48; do
  convert "$tmp/icon.png" -resize ${size}x${size} -strip "PNG32:$tmp/icon-$size.png"
done
# Every size PNG-compressed, as Windows reads icons since Vista: a quarter of the bytes of
# uncompressed bitmaps, in an exe with a size budget; no 256-pixel size, which only Explorer's
# largest views would show.
python3 - "$root/platform/win32/kestrix.ico" "$tmp"/icon-{16,24,32,48}.png <<'PY'
import struct, sys
pngs = [open(path, "rb").read() for path in sys.argv[2:]]
entries, offset = b"", 6 + 16 * len(pngs)
for png in pngs:
    width, height = struct.unpack(">II", png[16:24])
    entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
open(sys.argv[1], "wb").write(struct.pack("<HHH", 0, 1, len(pngs)) + entries + b"".join(pngs))
PY

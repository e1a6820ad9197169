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
  convert "$tmp/icon.png" -resize ${size}x${size} "$tmp/icon-$size.png"
done
convert "$tmp/icon-16.png" "$tmp/icon-24.png" "$tmp/icon-32.png" "$tmp/icon-48.png" \
  "$tmp/icon.png" "$root/platform/win32/kestrix.ico"

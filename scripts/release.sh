#!/usr/bin/env bash
# Builds from scratch, runs every test, and writes dist/kestrix-<version>-x64.zip and -x86.zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$root/build/win64" "$root/build/win32"
bash "$root/scripts/test.sh"
python3 "$root/scripts/package.py" --build-dir "$root/build/win64" --arch x64
python3 "$root/scripts/package.py" --build-dir "$root/build/win32" --arch x86

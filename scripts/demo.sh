#!/usr/bin/env bash
# The main job on a demo machine: installs what is missing, builds, then runs an unattended
# boot-menu repair ("kestrix.exe -f -d d:") under Wine on a simulated PC with Windows XP on d:
# and Windows 7 on e:. Prints the progress log the window showed and the tools it ran, and saves
# a screenshot of the window to build/demo.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
python3 "$root/tests/e2e/e2e.py" --make-template --template "$root/build/native/wine-template"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  python3 "$root/tests/e2e/e2e.py" --build-dir "$root/build/win64" \
    --template "$root/build/native/wine-template" --case menu_xp_and_seven \
    --print-log --screenshot "$root/build/demo.png" --window-only
echo "screenshot: $root/build/demo.png"

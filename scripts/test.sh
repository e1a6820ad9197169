#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit tests on Linux and the
# end-to-end tests of the real exe under Wine on a virtual display. Wine never runs as root: run
# as root, the end-to-end runner (tests/e2e/e2e.py) starts every Wine process as its own ordinary
# account, kestrix-e2e, so read-only files refuse writes as Windows refuses them to an administrator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$root/build/native"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@"

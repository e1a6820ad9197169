#!/usr/bin/env bash
# Fuzzes the two text parsers (the option string and the listing line) with libFuzzer for a
# bounded time each. Not part of the test suite: run it by hand, e.g. `scripts/fuzz.sh 120`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$root/build/fuzz"
mkdir -p "$out"
core=(platform/text.cpp app/options.cpp partitions/partition_scan.cpp exec/tool_runner.cpp
      exec/run_log.cpp exec/tool_commands.cpp)
for target in options listing; do
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$root/fuzz/${target}_fuzzer.cpp" "${core[@]/#/$root/}" -o "$out/${target}_fuzzer"
  mkdir -p "$out/corpus-$target"
  echo "== $target: ${seconds}s"
  "$out/${target}_fuzzer" -max_total_time="$seconds" -max_len=512 "$out/corpus-$target" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|Done|==[0-9]+==ERROR|SUMMARY)' || true
done

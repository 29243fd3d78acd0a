#!/usr/bin/env bash
# Runs each libFuzzer target for a few seconds from an empty corpus.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
shopt -s nullglob
targets=("$build"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  corpus=$(mktemp -d)
  echo "fuzzing $(basename "$t") for ${seconds}s"
  "$t" -max_total_time="$seconds" -max_len=65536 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
done

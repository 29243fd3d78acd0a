#!/usr/bin/env bash
# Runs each libFuzzer target for a few seconds. A target may start from seeds it writes itself
# (into the folder named by VELLGRIM_FUZZ_SEEDS) and from a dictionary fuzz/<name>.dict.
# Inputs that crash are kept in <build>/fuzz-artifacts/ and fail the run.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$build"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
# Absolute: a target may change its working folder.
artifacts="$(cd "$build" && pwd)/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for t in "${targets[@]}"; do
  [ -f "$t" ] && [ -x "$t" ] || continue
  name=$(basename "$t")
  name=${name#fuzz_}
  corpus=$(mktemp -d)
  options=(-max_total_time="$seconds" -timeout=25 -max_len=65536 -print_final_stats=0 -artifact_prefix="$artifacts/$name-")
  dict="$source_dir/fuzz/$name.dict"
  [ -f "$dict" ] && options+=(-dict="$dict")
  echo "fuzzing $name for ${seconds}s"
  if ! VELLGRIM_FUZZ_SEEDS="$corpus" "$t" "${options[@]}" "$corpus" >"$corpus.log" 2>&1; then
    tail -n 40 "$corpus.log"
    echo "fuzz_$name failed; the input is in $artifacts/"
    status=1
  else
    tail -n 3 "$corpus.log"
  fi
  rm -rf "$corpus" "$corpus.log"
done
exit $status

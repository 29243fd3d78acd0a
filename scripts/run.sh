#!/usr/bin/env bash
# Runs the editor from its own folder, where the demo data lies beside it; until the editor is
# built, shows the command-line tool's help.
set -euo pipefail
build=${1:-build}
# The demo data lies beside the editor, in the folder it works in: built once when any install
# archive is missing; `make demo-data` rebuilds it.
for archive in "small install" "medium install" "large install" "international small install" \
               "international large install"; do
  if [ ! -f "$build/tags/$archive" ]; then
    "$build/vellgrim-tool" content build --out "$build"
    break
  fi
done
if [ -x "$build/vellgrim" ]; then
  cd "$build"
  exec ./vellgrim
fi
exec "$build/vellgrim-tool" --help

#!/usr/bin/env bash
# Runs the editor from its own folder, where the demo data lies beside it; until the editor is
# built, shows the command-line tool's help.
set -euo pipefail
build=${1:-build}
if [ -x "$build/vellgrim" ]; then
  cd "$build"
  exec ./vellgrim
fi
exec "$build/vellgrim-tool" --help

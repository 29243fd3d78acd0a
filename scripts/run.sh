#!/usr/bin/env bash
# Runs the editor on the demo data; until the editor exists, shows the command-line tool's help.
set -euo pipefail
build=${1:-build}
if [ -x "$build/vellgrim" ]; then
  exec "$build/vellgrim"
fi
exec "$build/vellgrim-tool" --help

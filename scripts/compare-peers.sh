#!/usr/bin/env bash
# Times the shadow computation beside its peers, in one run, on the demo data's 8 x 8-submesh map
# (2048 x 2048 pixels), and prints the ratios:
#   - Basic Lighting with its blur, and Add Mesh Shading, against `gdaldem hillshade` on the same
#     heights (written by `vellgrim-tool map heights`, given to GDAL as a GeoTIFF);
#   - the blur (Basic Lighting with blur less Basic Lighting without) against ImageMagick's Gaussian
#     convolution of the same shadow map with the same radius and sigma.
# Every command is timed whole, reading and writing included: the map loaded and saved, the files
# read and written.
#
#   scripts/compare-peers.sh [--install] [--runs N]
#
# --install first installs gdal-bin, imagemagick and hyperfine (through apt-get). BUILD names the
# build folder (default: build).
set -euo pipefail

install=0
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --install) install=1 ;;
    --runs) runs="$2"; shift ;;
    *) echo "usage: $0 [--install] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done

if [ "$install" -eq 1 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends gdal-bin imagemagick hyperfine >/dev/null
fi
for program in gdaldem gdal_translate convert hyperfine python3; do
  command -v "$program" >/dev/null || { echo "$0: $program is missing (run with --install)" >&2; exit 1; }
done

here=$(cd "$(dirname "$0")/.." && pwd)
tool=$(cd "$here" && realpath "${BUILD:-build}/vellgrim-tool")
[ -x "$tool" ] || { echo "$0: build vellgrim-tool first ($tool)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
map="Demo Highlands"
"$tool" content build --out "$work/store" >/dev/null
run_tool() { "$tool" --root "$work/store" "$@"; }

# The lighting the map names, for gdaldem's sun and ImageMagick's kernel.
run_tool map lighting "$map" --json >"$work/lighting.json"
read -r azimuth elevation radius sigma < <(python3 - "$work/lighting.json" <<'EOF'
import json, sys
l = json.load(open(sys.argv[1]))
# gdaldem's azimuth runs clockwise from north (up the grid); ours counter-clockwise from +x.
print((90.0 - l["azimuth_degrees"]) % 360.0, l["elevation_degrees"], l["blur_radius"], l["blur_sigma"])
EOF
)

run_tool map heights "$map" --out "$work/heights.asc" >/dev/null
gdal_translate -q -of GTiff "$work/heights.asc" "$work/heights.tif"
run_tool map shadows "$map" --mode basic --no-blur >/dev/null
run_tool map export shadow "$map" "$work/shadow.bmp" >/dev/null
convert "$work/shadow.bmp" -colorspace Gray "$work/shadow.pgm"

hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/times.json" \
  -n gdaldem "gdaldem hillshade -q -az $azimuth -alt $elevation '$work/heights.tif' '$work/hillshade.tif'" \
  -n basic-no-blur "'$tool' --root '$work/store' map shadows '$map' --mode basic --no-blur" \
  -n basic "'$tool' --root '$work/store' map shadows '$map' --mode basic" \
  -n mesh "'$tool' --root '$work/store' map shadows '$map' --mode mesh" \
  -n magick-blur "convert '$work/shadow.pgm' -morphology Convolve Gaussian:${radius}x${sigma} '$work/blurred.pgm'" \
  >/dev/null

python3 - "$work/times.json" <<'EOF'
import json, sys
times = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
blur = max(times["basic"] - times["basic-no-blur"], 0.0)
print("mean seconds: " + ", ".join(f"{k} {v:.3f}" for k, v in times.items()))
print(f"Basic Lighting with blur / gdaldem hillshade: {times['basic'] / times['gdaldem']:.2f} (target <= 1.5)")
print(f"Add Mesh Shading / gdaldem hillshade:         {times['mesh'] / times['gdaldem']:.2f} (target <= 4)")
print(f"blur / ImageMagick Gaussian convolution:      {blur / times['magick-blur']:.2f}")
EOF

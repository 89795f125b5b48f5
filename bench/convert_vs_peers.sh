#!/bin/sh
# SPDX-License-Identifier: MIT
# klvrip convert against LittleCMS's tificc and vips icc_transform: an 8-bit
# RGB photograph-like TIFF (gradients and noise, WIDTH x HEIGHT, default
# 8000 x 6000) to CMYK between the shipped sRGB and CMYK profiles, perceptual
# intent. Whole processes on the same input file, each writing an
# uncompressed 8-bit CMYK TIFF, one core each (taskset -c 0, one vips
# thread), one run each. Prints CPU (user + system) and wall time with the
# load average beside each, then the dE00 of klvrip's and vips' output
# against tificc's, measured through the CMYK profile.
#   bench/convert_vs_peers.sh BUILD_DIR [WIDTH HEIGHT]
# Installs libvips-tools with apt-get when vips is missing (as root).
set -eu
build=${1:?build directory}
w=${2:-8000}
h=${3:-6000}
here=$(cd "$(dirname "$0")" && pwd)
data=$(cd "$here/../data" && pwd)
srgb=$data/profiles/klv_srgb.icc
cmyk=$data/profiles/klv_cmyk.icc
if ! command -v vips > /dev/null && [ "$(id -u)" = 0 ]; then
  apt-get install -y -q libvips-tools > /dev/null 2>&1 || echo "(libvips-tools could not be installed)"
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_convert_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/bench/bench_cms_line" --make "$tmp/rgb.tif" "$w" "$h"
cat "$tmp/rgb.tif" > /dev/null  # every run starts from the page cache

run() {
  name=$1
  out=$2
  shift 2
  rm -f "$out"
  /usr/bin/time -f "%U %S %e" -o "$tmp/time" "$@" > /dev/null 2> "$tmp/err" || {
    echo "$name: failed: $(cat "$tmp/err")"
    return 0
  }
  read -r user sys wall < "$tmp/time"
  cpu=$(echo "$user + $sys" | bc)
  ns=$(echo "$cpu * 1000000000 / ($w * $h)" | bc -l | cut -c1-6)
  printf '%-16s cpu %6.2f s  wall %6.2f s  %s ns/pixel  (load %s)\n' "$name" "$cpu" "$wall" \
    "$ns" "$(uptime | sed 's/.*load average: //')"
  echo "$cpu" > "$out.cpu"
}

echo "RGB ${w}x${h} 8-bit -> CMYK, perceptual, one core each"
run "klvrip convert" "$tmp/klv.tif" env KLV_PATH="$data" KLV_LOG=/dev/null taskset -c 0 \
  "$build/tools/klvrip/klvrip" convert "$tmp/rgb.tif" "$tmp/klv.tif" --input-profile "$srgb" \
  --output-profile "$cmyk" --intent perceptual
if command -v tificc > /dev/null; then
  run "tificc" "$tmp/tificc.tif" taskset -c 0 tificc -t0 -i"$srgb" -o"$cmyk" "$tmp/rgb.tif" \
    "$tmp/tificc.tif"
else
  echo "tificc: not installed (liblcms2-utils)"
fi
if command -v vips > /dev/null; then
  run "vips" "$tmp/vips.tif" env VIPS_CONCURRENCY=1 taskset -c 0 vips icc_transform \
    "$tmp/rgb.tif" "$tmp/vips.tif" "$cmyk" --input-profile "$srgb" --intent perceptual
else
  echo "vips: not installed (libvips-tools)"
fi

# Speed against the faster peer, and colour against tificc's output.
if [ -f "$tmp/klv.tif.cpu" ]; then
  best=""
  for peer in tificc vips; do
    [ -f "$tmp/$peer.tif.cpu" ] || continue
    c=$(cat "$tmp/$peer.tif.cpu")
    if [ -z "$best" ] || [ "$(echo "$c < $best" | bc)" = 1 ]; then best=$c; fi
  done
  if [ -n "$best" ]; then
    echo "klvrip convert is $(echo "$best / $(cat "$tmp/klv.tif.cpu")" | bc -l | cut -c1-5)x" \
      "as fast as the faster peer (CPU time)"
  fi
fi
if [ -f "$tmp/tificc.tif" ]; then
  for other in klv vips; do
    [ -f "$tmp/$other.tif" ] || continue
    printf '%-6s against tificc: ' "$other"
    "$build/bench/bench_clut" --delta-e "$tmp/tificc.tif" "$tmp/$other.tif" "$cmyk"
  done
fi

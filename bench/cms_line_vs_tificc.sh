#!/bin/sh
# SPDX-License-Identifier: MIT
# 8-bit RGB to CMYK between the shipped sRGB and CMYK profiles, perceptual
# intent: the LittleCMS engine's line entry through the CMS service against
# LittleCMS's own tificc on the same TIFF, one core each, in one run. Both
# read the RGB TIFF and write an uncompressed CMYK TIFF.
#   bench/cms_line_vs_tificc.sh BUILD_DIR [WIDTH HEIGHT]
set -eu
build=${1:?build directory}
w=${2:-8000}
h=${3:-6000}
here=$(cd "$(dirname "$0")" && pwd)
profiles="$here/../data/profiles"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_cms_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/bench/bench_cms_line" --make "$tmp/rgb.tif" "$w" "$h"
cat "$tmp/rgb.tif" > /dev/null  # both start from the page cache
# CPU time (user + system) is what is compared: a busy machine stretches wall time.
cpu() {
  name=$1
  shift
  /usr/bin/time -f "%U %S %e" -o "$tmp/time" "$@" > /dev/null
  read -r user sys wall < "$tmp/time"
  echo "$name: cpu $(echo "$user + $sys" | bc) s, $(echo "($user + $sys) * 1000000000 / ($w * $h)" |
    bc -l | cut -c1-6) ns per pixel (wall $wall s)"
}
for run in 1 2 3; do
  KLV_LOG=/dev/null cpu "klv line entry" taskset -c 0 "$build/bench/bench_cms_line" --convert \
    "$tmp/rgb.tif" "$tmp/klv.tif"
  rm -f "$tmp/klv.tif"
  if command -v tificc > /dev/null; then
    cpu "tificc        " taskset -c 0 tificc -t0 -i"$profiles/klv_srgb.icc" \
      -o"$profiles/klv_cmyk.icc" "$tmp/rgb.tif" "$tmp/tificc.tif"
    rm -f "$tmp/tificc.tif"
  fi
done

#!/bin/sh
# SPDX-License-Identifier: MIT
# A quarter turn of an 8-bit CMYK TIFF (20000x15000 by default) with the
# rotation filter's default 8 MB budget, against ImageMagick's -rotate 90 on
# the same file, single-threaded, in one run. Both write an uncompressed TIFF.
# ImageMagick builds whose policy caps width, height or area at less than the
# full image need a smaller size (8000 6000 fits a 16KP / 128MP policy).
#   bench/rotate_vs_peers.sh BUILD_DIR [WIDTH HEIGHT]
set -eu
build=${1:?build directory}
w=${2:-20000}
h=${3:-15000}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_rotate_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/bench/bench_rotate" --make "$tmp/src.tif" "$w" "$h"
ls -l "$tmp/src.tif"
cat "$tmp/src.tif" > /dev/null  # both start from the page cache
"$build/bench/bench_rotate" --turn "$tmp/src.tif" "$tmp/klv.tif"
rm -f "$tmp/klv.tif"
if command -v convert > /dev/null; then
  start=$(date +%s.%N)
  convert -limit thread 1 "$tmp/src.tif" -rotate 90 -compress none "$tmp/im.tif"
  end=$(date +%s.%N)
  echo "imagemagick -rotate 90: $(echo "$end - $start" | bc) s"
fi
if command -v vips > /dev/null; then
  start=$(date +%s.%N)
  VIPS_CONCURRENCY=1 vips rot "$tmp/src.tif" "$tmp/vips.tif" d90
  end=$(date +%s.%N)
  echo "vips rot d90: $(echo "$end - $start" | bc) s"
fi

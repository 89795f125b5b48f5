#!/bin/sh
# SPDX-License-Identifier: MIT
# Decoding an RGB JPEG and PNG (8000x6000 by default, written by the bench
# program) through the image streams, against djpeg to a null output and
# `vips copy` of the same files, each on one core (taskset), in one run.
#   bench/decode_vs_peers.sh BUILD_DIR [WIDTH HEIGHT]
set -eu
build=${1:?build directory}
w=${2:-8000}
h=${3:-6000}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_decode_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
one="taskset -c 0"
command -v taskset > /dev/null || one=""
"$build/bench/bench_jpeg_png" --make "$tmp" "$w" "$h"
ls -l "$tmp/src.jpg" "$tmp/src.png"
cat "$tmp/src.jpg" "$tmp/src.png" > /dev/null  # all start from the page cache
seconds() {
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
uptime
$one "$build/bench/bench_jpeg_png" --decode "$tmp/src.jpg"
if command -v djpeg > /dev/null; then
  echo "djpeg to /dev/null: $(seconds $one djpeg -outfile /dev/null "$tmp/src.jpg") s"
fi
uptime
$one "$build/bench/bench_jpeg_png" --decode "$tmp/src.png"
if command -v vips > /dev/null; then
  echo "vips copy: $(seconds env VIPS_CONCURRENCY=1 $one vips copy "$tmp/src.png" "$tmp/out.v") s"
fi
uptime

#!/bin/sh
# SPDX-License-Identifier: MIT
# A quarter turn of 8-bit CMYK TIFFs (8000x6000 and 20000x15000 by default)
# with the rotation filter's default budget, against libvips (vips rot d90)
# and ImageMagick (convert -rotate 90), each on one core, one run each. All
# three write an uncompressed TIFF. Prints wall time and peak memory
# (/usr/bin/time -v) with the machine's load beside each figure, and the
# budget the filter sizes from the machine (a sixteenth of its memory, 8 MB
# to 256 MB). Needs about four times the image size free under TMPDIR; the
# files are removed after each size.
#   bench/rotate_vs_peers.sh BUILD_DIR [WxH ...]
set -eu
build=${1:?build directory}
shift
sizes=${*:-"8000x6000 20000x15000"}
cpu=${KLV_BENCH_CPU:-1}

missing=
command -v vips > /dev/null || missing="$missing libvips-tools"
[ -x /usr/bin/convert ] || missing="$missing imagemagick"
[ -x /usr/bin/time ] || missing="$missing time"
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y $missing
  else
    echo "missing peers; run as root: apt-get install -y$missing" >&2
    exit 1
  fi
fi
cmake --build "$build" -j2 --target bench_rotate > /dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_rotate_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# ImageMagick with room for the whole page.
. "$(dirname "$0")/magick_room.sh"
magick_room "$tmp"

mem_kb=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
budget=$(awk -v k="$mem_kb" 'BEGIN { b = k * 1024 / 16; if (b < 8000000) b = 8000000;
  if (b > 268435456) b = 268435456; printf "%d", b / 1048576 }')
echo "klv default budget on this machine: $budget MiB (memory $((mem_kb / 1024)) MiB)"

# measure LABEL CMD...: one run on one core; wall seconds and peak resident MiB.
measure() {
  label=$1
  shift
  cat "$tmp/src.tif" > /dev/null # every run starts from the page cache
  load=$(uptime | sed 's/.*load average: //')
  if ! taskset -c "$cpu" /usr/bin/time -v -o "$tmp/time" "$@" > "$tmp/out.log" 2>&1; then
    echo "$label: FAILED" && cat "$tmp/out.log"
    return
  fi
  awk -v label="$label" -v load="$load" '
    /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
    /Maximum resident set size/ { rss = $NF / 1024 }
    END { printf "  %-28s %8.2f s  peak %7.0f MiB   (load %s)\n", label, s, rss, load }' "$tmp/time"
  rm -f "$tmp/out.tif"
}

for size in $sizes; do
  w=${size%x*}
  h=${size#*x}
  echo "quarter turn of an 8-bit CMYK TIFF, ${w}x${h} ($((w * h * 4 / 1048576)) MiB), cpu $cpu:"
  df -h "$tmp" | tail -1 | awk '{ print "  free under TMPDIR: " $4 }'
  "$build/bench/bench_rotate" --make "$tmp/src.tif" "$w" "$h"
  measure "klv rotate_attach" "$build/bench/bench_rotate" --turn "$tmp/src.tif" "$tmp/out.tif"
  sed -n 's/^klv quarter turn: /    (/p' "$tmp/out.log" | sed 's/$/)/'
  measure "vips rot d90" env VIPS_CONCURRENCY=1 vips rot "$tmp/src.tif" "$tmp/out.tif" d90
  measure "convert -rotate 90" /usr/bin/convert -limit thread 1 "$tmp/src.tif" -rotate 90 \
    -compress none "$tmp/out.tif"
  rm -f "$tmp/src.tif"
done

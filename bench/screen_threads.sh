#!/bin/sh
# SPDX-License-Identifier: MIT
# `klvrip screen` of an 8000x6000 CMYK page with 1 and 2 threads, for plain
# and variable-coefficient error diffusion: runs interleaved (1 thread, then
# 2, and again), the median of each, the speed-up and the load average
# before every run. The input is made by bench_screen_pipeline (the same
# page as bench/screen_vs_peers.sh). The dot files of 1 and 2 threads must be
# the same bytes.
#   bench/screen_threads.sh BUILD_DIR [RUNS]
# BUILD_DIR holds tools/klvrip/klvrip and bench/bench_screen_pipeline (a
# Release build). KLV_BENCH_W / KLV_BENCH_H give another page size.
set -eu
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-5}
W=${KLV_BENCH_W:-8000}
H=${KLV_BENCH_H:-6000}
klvrip=$build/tools/klvrip/klvrip
tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_screen_threads.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$build/bench/bench_screen_pipeline" --make-cmyk "$tmp/cmyk.tif" "$W" "$H"
cat "$tmp/cmyk.tif" > /dev/null

# seconds of one run, with the 1-minute load average before it
run() {
  load=$(cut -d' ' -f1 /proc/loadavg)
  t0=$(date +%s.%N)
  "$klvrip" screen "$tmp/cmyk.tif" "$tmp/$1.tif" --method "$2" --threads "$3" > /dev/null
  t1=$(date +%s.%N)
  echo "$1 $t0 $t1 $load" | awk '{ printf "%s %.3f %s\n", $1, $3 - $2, $4 }'
}

for method in diffusion varcoef; do
  : > "$tmp/times"
  i=0
  while [ $i -lt "$runs" ]; do
    run "$method-1" "$method" 1 >> "$tmp/times"
    run "$method-2" "$method" 2 >> "$tmp/times"
    i=$((i + 1))
  done
  cmp -s "$tmp/$method-1.tif" "$tmp/$method-2.tif" ||
    { echo "WRONG OUTPUT: $method with 2 threads differs from 1" >&2; exit 1; }
  awk -v m="$method" '
    function median(a, n,   i, j, t) {
      for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    { if ($1 ~ /-1$/) one[++n1] = $2; else two[++n2] = $2; loads = loads " " $3 }
    END {
      m1 = median(one, n1); m2 = median(two, n2)
      printf "%s: 1 thread %.2f s, 2 threads %.2f s (medians of %d), %.2fx; load before each run:%s\n", m, m1, m2, n1, m1 / m2, loads
    }' "$tmp/times"
done

#!/bin/sh
# SPDX-License-Identifier: MIT
# `klvrip screen` against the programs a user would pick instead, on one core,
# in one run. Every tool does the same complete work: read an 8000x6000 8-bit
# image, screen every separation, write 1-bit output.
#   (a) gray, clustered threshold screen: Ghostscript to pbmraw, ImageMagick
#       -ordered-dither
#   (b) CMYK, clustered threshold screen: Ghostscript tiffsep1 and bitcmyk,
#       ImageMagick -separate -ordered-dither to 1-bit files, GraphicsMagick
#       -ordered-dither to a 1-bit CMYK TIFF; klvrip also with 2 threads
#   (c) gray error diffusion: Ghostscript tiffscaled, netpbm pamditherbw -fs,
#       ImageMagick -dither FloydSteinberg -monochrome
# The inputs are made by bench_screen_pipeline (ramps plus smooth noise, the
# same bytes on every machine) as uncompressed 600 dpi TIFFs and headerless
# samples; Ghostscript draws the samples with image/colorimage at 600 dpi so
# that one sample lands on one device pixel, netpbm reads a PGM of them.
# Prints the median of every command and klvrip's time over the fastest peer.
# A command that takes more than 30 s is run only once.
#   bench/screen_vs_peers.sh [--quick] [--runs N] [--keep DIR]
set -eu
runs=5
keep=
while [ $# -gt 0 ]; do
  case $1 in
    --quick) runs=1 ;;
    --runs) runs=${2:?}; shift ;;
    --keep) keep=${2:?}; shift ;;
    *) echo "usage: $0 [--quick] [--runs N] [--keep DIR]" >&2; exit 2 ;;
  esac
  shift
done
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KLV_BENCH_BUILD:-$root/build-peers}
W=8000
H=6000
cpu=${KLV_BENCH_CPU:-1}

# The peers, from Debian.
missing=
command -v gs > /dev/null || missing="$missing ghostscript"
[ -x /usr/bin/convert ] || missing="$missing imagemagick"
command -v gm > /dev/null || missing="$missing graphicsmagick"
command -v pamditherbw > /dev/null || missing="$missing netpbm"
command -v tiffinfo > /dev/null || missing="$missing libtiff-tools"
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y $missing
  else
    echo "missing peers; run as root: apt-get install -y$missing" >&2
    exit 1
  fi
fi

# klvrip and the input maker, Release.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKLV_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j2 --target klvrip bench_screen_pipeline > /dev/null
klvrip=$build/tools/klvrip/klvrip

if [ -n "$keep" ]; then
  tmp=$keep
  mkdir -p "$tmp"
else
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_screen_bench.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
fi
cd "$tmp"
"$build/bench/bench_screen_pipeline" --make-gray gray.tif $W $H gray.raw
"$build/bench/bench_screen_pipeline" --make-cmyk cmyk.tif $W $H cmyk.raw
{ printf 'P5\n%d %d\n255\n' $W $H; cat gray.raw; } > gray.pgm
# The page is W x H pixels at 600 dpi: W*72/600 x H*72/600 points.
pw=$((W * 72 / 600))
ph=$((H * 72 / 600))
for c in gray cmyk; do
  if [ $c = gray ]; then op="image"; else op="false 4 colorimage"; fi
  cat > $c.ps << EOF
%!PS
<< /PageSize [$pw $ph] >> setpagedevice
$pw $ph scale
/src ($tmp/$c.raw) (r) file def
$W $H 8 [$W 0 0 -$H 0 $H] src $op
showpage
EOF
done
# ImageMagick with a policy that keeps an 8000x6000 image in memory (the
# stock policy's 256 MiB would page its pixel cache to disk).
mkdir -p impolicy
cat > impolicy/policy.xml << 'EOF'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="disk" value="16GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
</policymap>
EOF
export MAGICK_CONFIGURE_PATH=$tmp/impolicy
gs="gs -q -dNOPAUSE -dBATCH -dSAFER --permit-file-read=$tmp/ -r600"
im="/usr/bin/convert -limit thread 1"
gm="gm convert -limit threads 1"
cat gray.tif cmyk.tif gray.raw cmyk.raw gray.pgm > /dev/null  # all start from the page cache
# klvrip's clustered screens: 100 lines per inch, black and gray at 45 degrees.
screen="--lpi 100 --angle 45"

# time_cmd LABEL CMD...: runs CMD $runs times on one core, records the median.
results=$tmp/results
: > "$results"
time_cmd() {
  label=$1
  shift
  times=
  i=0
  while [ $i -lt "$runs" ]; do
    s=$(date +%s.%N)
    if ! taskset -c "$cpu" "$@" > /dev/null 2> "$tmp/err"; then
      echo "FAILED: $*" >&2
      cat "$tmp/err" >&2
      echo "$label FAILED" >> "$results"
      return 0
    fi
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc)
    times="$times $t"
    i=$((i + 1))
    # A peer that needs more than 30 s once is not run again.
    [ "$(echo "$t > 30" | bc)" = 1 ] && break
  done
  median=$(printf '%s\n' $times | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  echo "$label $median $i" >> "$results"
}

# check FILE KIND: the output is 1-bit and W x H (a PBM, a TIFF of 1 bit per
# sample, or headerless 1-bit CMYK).
check() {
  case $2 in
    pbm) head -c 200 "$1" | grep -av '^#' | head -n 2 | tr '\n' ' ' | grep -q "^P4 $W $H " ;;
    tif) tiffinfo "$1" 2> /dev/null | grep -q "Image Width: $W Image Length: $H" &&
      tiffinfo "$1" 2> /dev/null | grep -q "Bits/Sample: 1" ;;
    bit) [ "$(wc -c < "$1")" -eq $((W * H * 4 / 8)) ] ;;
  esac || { echo "WRONG OUTPUT: $1 is not a $W x $H 1-bit $2" >&2; exit 1; }
}

echo "== (a) gray, clustered threshold screen"
time_cmd "a klvrip" "$klvrip" screen gray.tif a-klv.tif $screen
check a-klv.tif tif
time_cmd "a gs-pbmraw" $gs -sDEVICE=pbmraw -o a-gs.pbm gray.ps
check a-gs.pbm pbm
time_cmd "a im-ordered-dither" $im gray.tif -ordered-dither h8x8a a-im.pbm
check a-im.pbm pbm

echo "== (b) CMYK, clustered threshold screen"
time_cmd "b klvrip" "$klvrip" screen cmyk.tif b-klv.tif $screen
check b-klv.tif tif
if [ "$(nproc)" -ge 2 ]; then
  saved=$cpu
  cpu=0,1
  time_cmd "b klvrip-2-threads" "$klvrip" screen cmyk.tif b-klv2.tif $screen --threads 2
  cpu=$saved
  # The generated spot screens take a clock seed; the built-in screens show
  # that 2 threads write the same dots as 1.
  "$klvrip" screen cmyk.tif v1.tif > /dev/null
  "$klvrip" screen cmyk.tif v2.tif --threads 2 > /dev/null
  cmp -s v1.tif v2.tif || { echo "WRONG OUTPUT: 2 threads differ from 1" >&2; exit 1; }
fi
time_cmd "b gs-tiffsep1" $gs -sDEVICE=tiffsep1 -o b-gs-sep.tif cmyk.ps
for s in Cyan Magenta Yellow Black; do check "b-gs-sep($s).tif" tif; done
time_cmd "b gs-bitcmyk" $gs -sDEVICE=bitcmyk -o b-gs.bit cmyk.ps
check b-gs.bit bit
time_cmd "b im-separate-ordered-dither" $im cmyk.tif -separate -ordered-dither h8x8a b-im-%d.pbm
for s in 0 1 2 3; do check b-im-$s.pbm pbm; done
time_cmd "b gm-ordered-dither" $gm cmyk.tif -ordered-dither all 4 \
  -define tiff:bits-per-sample=1 -compress none b-gm.tif
check b-gm.tif tif

echo "== (c) gray error diffusion"
time_cmd "c klvrip" "$klvrip" screen gray.tif c-klv.tif --method diffusion
check c-klv.tif tif
time_cmd "c gs-tiffscaled" $gs -sDEVICE=tiffscaled -o c-gs.tif gray.ps
check c-gs.tif tif
time_cmd "c pamditherbw-fs" sh -c "pamditherbw -fs gray.pgm | pamtopnm > c-nb.pbm"
check c-nb.pbm pbm
time_cmd "c im-floyd-steinberg" $im gray.tif -dither FloydSteinberg -monochrome c-im.pbm
check c-im.pbm pbm

echo
echo "median of $runs run(s) (1 for a command over 30 s), one core ($cpu; 2 threads on cores 0,1), seconds"
awk '
  $NF == "FAILED" { printf "%-30s %10s\n", $1 " " $2, "failed"; next }
  {
    c = $1; printf "%-30s %10.3f%s\n", c " " $2, $3, $4 == 1 && $4 < runs ? "  (1 run)" : ""
    if ($2 == "klvrip") k[c] = $3
    else if ($2 == "klvrip-2-threads") k2[c] = $3
    else if (!(c in best) || $3 < best[c]) { best[c] = $3; who[c] = $2 }
    if ($2 == "gs-pbmraw") gsgray = $3
  }
  END {
    print ""
    split("a b c", cases, " ")
    for (j = 1; j <= 3; ++j) {
      c = cases[j]
      if (!(c in k) || !(c in best)) continue
      printf "(%s) klvrip / fastest peer (%s): %.2f", c, who[c], k[c] / best[c]
      printf "%s\n", k[c] / best[c] <= 0.5 ? "  (goal <= 0.5: met)" : "  (goal <= 0.5: missed)"
    }
    if ("a" in k && gsgray > 0)
      printf "(a) klvrip / Ghostscript gray fast path: %.2f\n", k["a"] / gsgray
    if ("b" in k2)
      printf "(b) klvrip 2 threads: %.2fx its single-thread speed (goal 1.6x)\n", k["b"] / k2["b"]
  }' runs="$runs" "$results"

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
#   (d) CMYK error diffusion: Ghostscript tiffscaled4, ImageMagick -separate
#       -dither FloydSteinberg -monochrome; klvrip plain and variable-
#       coefficient diffusion, also with 2 threads
# Every output is checked before its time counts: 1-bit, the page's size,
# every plate present (no two alike where the input's differ) and the mean
# ink of every plate within 3 points of the input's. A peer that fails is
# listed as "not comparable" and never as the fastest; a klvrip output that
# fails stops the script. The mean ink offsets are printed with the times.
# The inputs are made by bench_screen_pipeline (ramps plus smooth noise, the
# same bytes on every machine) as uncompressed 600 dpi TIFFs and headerless
# samples; Ghostscript draws the samples with image/colorimage at 600 dpi so
# that one sample lands on one device pixel, netpbm reads a PGM of them.
# Prints the median of every command and klvrip's time over the fastest peer.
# A command that takes more than 30 s is run only once.
#   bench/screen_vs_peers.sh [--quick] [--runs N] [--keep DIR]
# KLV_BENCH_W / KLV_BENCH_H give a smaller page for a quick try of the script.
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
W=${KLV_BENCH_W:-8000}
H=${KLV_BENCH_H:-6000}
cpu=${KLV_BENCH_CPU:-1}

# The peers, from Debian.
missing=
command -v gs > /dev/null || missing="$missing ghostscript"
[ -x /usr/bin/convert ] || missing="$missing imagemagick"
command -v gm > /dev/null || missing="$missing graphicsmagick"
command -v pamditherbw > /dev/null || missing="$missing netpbm"
command -v tiffinfo > /dev/null || missing="$missing libtiff-tools"
command -v cc > /dev/null || missing="$missing gcc"
[ -f /usr/include/x86_64-linux-gnu/tiffio.h ] || [ -f /usr/include/tiffio.h ] ||
  missing="$missing libtiff-dev"
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y $missing
  else
    echo "missing peers; run as root: apt-get install -y$missing" >&2
    exit 1
  fi
fi

# klvrip and the input maker, Release.
# KLV_BENCH_PREBUILT=1 takes both as they are in $KLV_BENCH_BUILD.
if [ -z "${KLV_BENCH_PREBUILT:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKLV_BUILD_TESTS=OFF > /dev/null
  cmake --build "$build" -j2 --target klvrip bench_screen_pipeline > /dev/null
fi
klvrip=$build/tools/klvrip/klvrip

if [ -n "$keep" ]; then
  tmp=$keep
  mkdir -p "$tmp"
else
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/klv_screen_bench.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
fi
cd "$tmp"
# The output check: every plate's mean ink against the input's.
cat > inkcheck.c << 'EOF'
/* Output check of a screening peer: inkcheck W H INPUT OUTPUT...
   INPUT is the 8-bit page (TIFF); the OUTPUTs (PBM, TIFF, or bit:FILE for
   headerless 1-bit CMYK; inv:FILE for a file that holds ink as white) give
   its plates in order. Prints each plate's mean ink against the input's and
   "ok", or "not comparable: REASON" with exit status 1. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

#define MAXP 16
static int np;
static double mean[MAXP];
static uint64_t hash[MAXP];
static long W, H;

static void fail(const char* why, const char* f) {
  printf("not comparable: %s %s\n", f, why);
  exit(1);
}

/* Adds the plates of one image: `get(row, plate, x)` is the ink of a pixel 0..1. */
typedef struct {
  int bits, spp, planar, white_is_ink; /* white_is_ink: the value 0 is full ink */
} Layout;

static void add_row(const uint8_t* line, const Layout* L, int s, int first, long w, uint64_t* sum,
                    uint64_t* h) {
  int max = L->bits == 1 ? 1 : 255;
  for (long x = 0; x < w; ++x) {
    long i = L->planar ? x : x * L->spp + s;
    int v = L->bits == 1 ? (line[i >> 3] >> (7 - (i & 7))) & 1 : line[i];
    if (L->white_is_ink) v = max - v;
    sum[first + s] += (uint64_t)v;
    h[first + s] = (h[first + s] ^ (uint64_t)v) * 1099511628211ull;
  }
}

static void finish(uint64_t* sum, int first, int spp, int bits) {
  for (int s = 0; s < spp; ++s)
    mean[first + s] = 100.0 * (double)sum[first + s] / ((double)W * H * (bits == 1 ? 1 : 255));
}

static void read_tiff(const char* f, int invert, int want_bits) {
  TIFFSetWarningHandler(NULL);
  TIFF* t = TIFFOpen(f, "r");
  if (!t) fail("cannot be read", f);
  uint32_t w = 0, h = 0;
  uint16_t spp = 1, bps = 1, planar = 1, photo = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
  if (w != W || h != H) fail("has the wrong size", f);
  if (bps != want_bits) fail(want_bits == 1 ? "is not 1-bit" : "is not 8-bit", f);
  if (np + spp > MAXP) fail("has too many plates", f);
  Layout L = {bps, spp, planar == PLANARCONFIG_SEPARATE, photo == PHOTOMETRIC_MINISBLACK};
  if (invert) L.white_is_ink = !L.white_is_ink;
  uint8_t* line = malloc(TIFFScanlineSize(t));
  uint64_t sum[MAXP] = {0};
  for (int s = 0; s < spp; ++s) hash[np + s] = 1469598103934665603ull;
  for (int s = 0; s < (L.planar ? spp : 1); ++s)
    for (uint32_t y = 0; y < h; ++y) {
      if (TIFFReadScanline(t, line, y, (uint16_t)s) < 0) fail("cannot be read", f);
      if (L.planar)
        add_row(line, &L, 0, np + s, W, sum, hash);
      else
        for (int k = 0; k < spp; ++k) add_row(line, &L, k, np, W, sum, hash);
    }
  free(line);
  TIFFClose(t);
  finish(sum, np, spp, bps);
  np += spp;
}

/* P4 (1 = ink) or headerless 1-bit CMYK. */
static void read_bits(const char* f, int invert, int raw) {
  FILE* in = fopen(f, "rb");
  if (!in) fail("cannot be read", f);
  int spp = 1;
  if (raw) {
    spp = 4;
  } else {
    long w, h;
    char m[3] = {0};
    if (fscanf(in, "%2s", m) != 1 || strcmp(m, "P4")) fail("is not a 1-bit PBM", f);
    int c;
    while ((c = fgetc(in)) == '#' || c == ' ' || c == '\n' || c == '\r' || c == '\t')
      if (c == '#')
        while ((c = fgetc(in)) != '\n' && c != EOF) {}
    ungetc(c, in);
    if (fscanf(in, "%ld %ld", &w, &h) != 2 || w != W || h != H) fail("has the wrong size", f);
    fgetc(in);
  }
  if (np + spp > MAXP) fail("has too many plates", f);
  Layout L = {1, spp, 0, invert};
  size_t bpl = (size_t)(W * spp + 7) / 8;
  uint8_t* line = malloc(bpl);
  uint64_t sum[MAXP] = {0};
  for (int s = 0; s < spp; ++s) hash[np + s] = 1469598103934665603ull;
  for (long y = 0; y < H; ++y) {
    if (fread(line, 1, bpl, in) != bpl) fail("is short", f);
    for (int k = 0; k < spp; ++k) add_row(line, &L, k, np, W, sum, hash);
  }
  if (fgetc(in) != EOF) fail("is too long", f);
  free(line);
  fclose(in);
  finish(sum, np, spp, 1);
  np += spp;
}

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: inkcheck W H INPUT OUTPUT...\n");
    return 2;
  }
  W = atol(argv[1]);
  H = atol(argv[2]);
  read_tiff(argv[3], 0, 8);
  const int ref = np;
  double ref_mean[MAXP];
  uint64_t ref_hash[MAXP];
  memcpy(ref_mean, mean, sizeof mean);
  memcpy(ref_hash, hash, sizeof hash);
  np = 0;
  for (int i = 4; i < argc; ++i) {
    const char* f = argv[i];
    int invert = 0, raw = 0;
    if (!strncmp(f, "inv:", 4)) invert = 1, f += 4;
    if (!strncmp(f, "bit:", 4)) raw = 1, f += 4;
    size_t n = strlen(f);
    if (raw || (n > 4 && !strcmp(f + n - 4, ".pbm")))
      read_bits(f, invert, raw);
    else
      read_tiff(f, invert, 1);
  }
  if (np != ref) {
    printf("not comparable: %d plates for %d\n", np, ref);
    return 1;
  }
  double worst = 0;
  int bad = 0;
  for (int s = 0; s < np; ++s) {
    double d = mean[s] - ref_mean[s];
    if (d * d > worst * worst) worst = d;
    printf("plate %d: ink %.2f%% for %.2f%% (%+.2f)\n", s, mean[s], ref_mean[s], d);
    if (d > 3 || d < -3) bad = 1;
    for (int o = 0; o < s; ++o)
      if (hash[o] == hash[s] && ref_hash[o] != ref_hash[s]) {
        printf("not comparable: plates %d and %d are the same\n", o, s);
        return 1;
      }
  }
  if (bad) {
    printf("not comparable: mean ink more than 3 points off\n");
    return 1;
  }
  printf("ok %+.2f\n", worst);
  return 0;
}
EOF
cc -O2 -o inkcheck inkcheck.c -ltiff
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
# ImageMagick with room for the whole page.
. "$root/bench/magick_room.sh"
magick_room "$tmp"
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

# verify LABEL INPUT OUTPUT...: checks the outputs of the command timed as
# LABEL against INPUT (see inkcheck.c; inv:FILE holds ink as white). A peer
# that fails is marked not comparable; klvrip failing stops the script.
verify() {
  label=$1
  shift
  grep -q "^$label FAILED" "$results" && return 0
  if ./inkcheck $W $H "$@" > "$tmp/check" 2>&1; then
    sed -i "s/^$label \(.*\)\$/$label \1 ink$(tail -n 1 "$tmp/check" | cut -d' ' -f2)/" "$results"
  else
    echo "NOT COMPARABLE: $label: $(tail -n 1 "$tmp/check")" >&2
    case $label in
      *klvrip*) echo "WRONG OUTPUT: $label" >&2; cat "$tmp/check" >&2; exit 1 ;;
    esac
    sed -i "s/^$label \(.*\)\$/$label \1 NOTCOMPARABLE/" "$results"
  fi
}

echo "== (a) gray, clustered threshold screen"
time_cmd "a klvrip" "$klvrip" screen gray.tif a-klv.tif $screen
verify "a klvrip" gray.tif a-klv.tif
time_cmd "a gs-pbmraw" $gs -sDEVICE=pbmraw -o a-gs.pbm gray.ps
verify "a gs-pbmraw" gray.tif a-gs.pbm
time_cmd "a im-ordered-dither" $im gray.tif -ordered-dither h8x8a a-im.pbm
verify "a im-ordered-dither" gray.tif a-im.pbm

echo "== (b) CMYK, clustered threshold screen"
time_cmd "b klvrip" "$klvrip" screen cmyk.tif b-klv.tif $screen
verify "b klvrip" cmyk.tif b-klv.tif
if [ "$(nproc)" -ge 2 ]; then
  saved=$cpu
  cpu=0,1
  time_cmd "b klvrip-2-threads" "$klvrip" screen cmyk.tif b-klv2.tif $screen --threads 2
  cpu=$saved
  # Generated screens seed from their own parameters: 2 threads write the
  # same dots as 1.
  cmp -s b-klv.tif b-klv2.tif || { echo "WRONG OUTPUT: 2 threads differ from 1" >&2; exit 1; }
fi
time_cmd "b gs-tiffsep1" $gs -sDEVICE=tiffsep1 -o b-gs-sep.tif cmyk.ps
verify "b gs-tiffsep1" cmyk.tif "b-gs-sep(Cyan).tif" "b-gs-sep(Magenta).tif" \
  "b-gs-sep(Yellow).tif" "b-gs-sep(Black).tif"
time_cmd "b gs-bitcmyk" $gs -sDEVICE=bitcmyk -o b-gs.bit cmyk.ps
verify "b gs-bitcmyk" cmyk.tif bit:b-gs.bit
# ImageMagick's separated plates are gray images of the ink amount: their
# dots are the white pixels of each PBM.
time_cmd "b im-separate-ordered-dither" $im cmyk.tif -separate -ordered-dither h8x8a b-im-%d.pbm
verify "b im-separate-ordered-dither" cmyk.tif inv:b-im-0.pbm inv:b-im-1.pbm inv:b-im-2.pbm \
  inv:b-im-3.pbm
time_cmd "b gm-ordered-dither" $gm cmyk.tif -ordered-dither all 4 \
  -define tiff:bits-per-sample=1 -compress none b-gm.tif
verify "b gm-ordered-dither" cmyk.tif b-gm.tif

echo "== (c) gray error diffusion"
time_cmd "c klvrip" "$klvrip" screen gray.tif c-klv.tif --method diffusion
verify "c klvrip" gray.tif c-klv.tif
time_cmd "c gs-tiffscaled" $gs -sDEVICE=tiffscaled -o c-gs.tif gray.ps
verify "c gs-tiffscaled" gray.tif c-gs.tif
time_cmd "c pamditherbw-fs" sh -c "pamditherbw -fs gray.pgm | pamtopnm > c-nb.pbm"
verify "c pamditherbw-fs" gray.tif c-nb.pbm
time_cmd "c im-floyd-steinberg" $im gray.tif -dither FloydSteinberg -monochrome c-im.pbm
verify "c im-floyd-steinberg" gray.tif c-im.pbm

echo "== (d) CMYK error diffusion"
time_cmd "d klvrip" "$klvrip" screen cmyk.tif d-klv.tif --method diffusion
verify "d klvrip" cmyk.tif d-klv.tif
time_cmd "d klvrip-varcoef" "$klvrip" screen cmyk.tif d-klv-vc.tif --method varcoef
verify "d klvrip-varcoef" cmyk.tif d-klv-vc.tif
if [ "$(nproc)" -ge 2 ]; then
  saved=$cpu
  cpu=0,1
  time_cmd "d klvrip-2-threads" "$klvrip" screen cmyk.tif d-klv2.tif --method diffusion --threads 2
  time_cmd "d klvrip-varcoef-2-threads" "$klvrip" screen cmyk.tif d-klv-vc2.tif --method varcoef \
    --threads 2
  cpu=$saved
  cmp -s d-klv.tif d-klv2.tif && cmp -s d-klv-vc.tif d-klv-vc2.tif ||
    { echo "WRONG OUTPUT: 2 threads differ from 1" >&2; exit 1; }
fi
time_cmd "d gs-tiffscaled4" $gs -sDEVICE=tiffscaled4 -o d-gs.tif cmyk.ps
verify "d gs-tiffscaled4" cmyk.tif d-gs.tif
time_cmd "d im-separate-floyd-steinberg" $im cmyk.tif -separate -dither FloydSteinberg \
  -monochrome d-im-%d.pbm
verify "d im-separate-floyd-steinberg" cmyk.tif inv:d-im-0.pbm inv:d-im-1.pbm inv:d-im-2.pbm \
  inv:d-im-3.pbm

echo
echo "median of $runs run(s) (1 for a command over 30 s), one core ($cpu; 2 threads on cores 0,1), seconds"
awk '
  $NF == "FAILED" { printf "%-34s %10s\n", $1 " " $2, "failed"; next }
  {
    c = $1; note = ""
    if ($NF == "NOTCOMPARABLE") note = "  not comparable (output failed its check)"
    else if ($NF ~ /^ink/) note = sprintf("  mean ink %s points", substr($NF, 4))
    printf "%-34s %10.3f%s%s\n", c " " $2, $3, $4 == 1 && $4 < runs ? "  (1 run)" : "", note
    if ($2 == "klvrip") k[c] = $3
    else if ($2 ~ /^klvrip-/) kx[c " " $2] = $3
    else if ($NF == "NOTCOMPARABLE") next
    else if (!(c in best) || $3 < best[c]) { best[c] = $3; who[c] = $2 }
    if ($2 == "gs-pbmraw") gsgray = $3
  }
  END {
    print ""
    split("a b c d", cases, " ")
    for (j = 1; j <= 4; ++j) {
      c = cases[j]
      if (!(c in k) || !(c in best)) continue
      goal = c == "d" ? 0.4 : 0.5
      printf "(%s) klvrip / fastest comparable peer (%s): %.2f", c, who[c], k[c] / best[c]
      printf "  (goal <= %.1f: %s)\n", goal, k[c] / best[c] <= goal ? "met" : "missed"
    }
    if ("a" in k && gsgray > 0)
      printf "(a) klvrip / Ghostscript gray fast path: %.2f\n", k["a"] / gsgray
    if (("b klvrip-2-threads") in kx)
      printf "(b) klvrip 2 threads: %.2fx its single-thread speed\n", k["b"] / kx["b klvrip-2-threads"]
    if (("d klvrip-2-threads") in kx)
      printf "(d) klvrip diffusion 2 threads: %.2fx its single-thread speed (goal 1.8x)\n", k["d"] / kx["d klvrip-2-threads"]
    if (("d klvrip-varcoef-2-threads") in kx && ("d klvrip-varcoef") in kx)
      printf "(d) klvrip varcoef 2 threads: %.2fx its single-thread speed (goal 1.8x)\n", kx["d klvrip-varcoef"] / kx["d klvrip-varcoef-2-threads"]
  }' runs="$runs" "$results"

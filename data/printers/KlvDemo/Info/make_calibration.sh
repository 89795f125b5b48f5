#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes PRINTER.Calibrate, the calibration volume of the demo printer, with
# the library's own writer (klvrip calib linear) and its index record.
#
#   data/printers/KlvDemo/Info/make_calibration.sh [KLVRIP]
#
# KLVRIP defaults to build/tools/klvrip/klvrip under the source tree.
#
# One linearization per mode of the printer (media x resolution x pattern),
# named Linear1~MEDIA~RESOLUTION~PATTERN with the pattern number (4 Screen,
# 0 FDRP Diffusion). Each holds Cyan, Magenta, Yellow and Black tables of 256
# 16-bit entries from the curve
#     entry(i) = round(65535 * limit * (i / 255) ^ gamma)
# The gamma pulls the middle tones down against dot gain: dots spread more
# with a screen than with diffusion and more at 1440x720 than at 720x720, and
# black gains most, yellow least. The limit is the ink limit of the media.
#
#                     Cyan  Magenta  Yellow  Black
#   gamma Screen 720  1.40   1.45     1.25    1.50
#   gamma Screen 1440 1.55   1.60     1.40    1.65
#   gamma FDRP   720  1.20   1.25     1.10    1.30
#   gamma FDRP   1440 1.30   1.35     1.20    1.40
#   limit Glossy Photo  0.95 0.95     0.95    1.00
#   limit Plain Paper   0.80 0.80     0.80    0.90
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../../.." && pwd)
klvrip=${1:-$root/build/tools/klvrip/klvrip}
out=$here/PRINTER.Calibrate
tmp=$out.tmp
rm -f "$tmp"
trap 'rm -f "$tmp"' EXIT

gammas() {  # pattern resolution
  case "$1 $2" in
    "4 720x720") echo 1.40,1.45,1.25,1.50 ;;
    "4 1440x720") echo 1.55,1.60,1.40,1.65 ;;
    "0 720x720") echo 1.20,1.25,1.10,1.30 ;;
    "0 1440x720") echo 1.30,1.35,1.20,1.40 ;;
  esac
}
limits() {  # media
  case "$1" in
    "Glossy Photo") echo 0.95,0.95,0.95,1.00 ;;
    "Plain Paper") echo 0.80,0.80,0.80,0.90 ;;
  esac
}

for media in "Glossy Photo" "Plain Paper"; do
  for res in 720x720 1440x720; do
    for pattern in 4 0; do
      "$klvrip" calib linear "$tmp" "Linear1~$media~$res~$pattern" \
        --gamma "$(gammas $pattern $res)" --limit "$(limits "$media")"
    done
  done
done

# The index record: the Glossy Photo tables stand in for media without their
# own, and 360x360 (a resolution of the device without a mode) uses the
# 720x720 tables.
"$klvrip" vol put "$tmp" Calb.Info <<'INFO'
Calb_Info {
  Swatch { "KlvDemo 4 x 21 patches" }
  DefaultMedia { "Glossy Photo" }
  Aliases {
    { "~~360x360" "~~720x720" }
  }
  Subs { }
  DefaultInkModel { CMYK }
  InkModels {
    { "Glossy Photo" CMYK }
    { "Plain Paper" CMYK }
  }
}
INFO
mv "$tmp" "$out"
trap - EXIT
echo "wrote $out"

#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes PRINTER.PrnLib, the profile library of the demo printer, with the
# library's own writer (klvrip proflib): the CMYK profile
# data/profiles/klv_cmyk.icc as member KlvCMYK.icc, one profile entry of type
# 2 named KlvCMYK for every mode of the printer (media x resolution x
# pattern: 4 Screen, 0 FDRP Diffusion), and KlvCMYK as the default of type 2
# for each of them. Plain Paper also takes less ink: the ink restriction
# PlainPaper.InkRstr.xml (cyan, magenta and yellow to 85 %, black to 95 % of
# their amounts) as member PlainPaper.InkRstr.xml, filed as the entry
# InkRstr (type 7) of each of its modes; the job driver screens with it.
#
#   data/printers/KlvDemo/Info/make_proflib.sh [KLVRIP]
#
# KLVRIP defaults to build/tools/klvrip/klvrip under the source tree.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../../.." && pwd)
klvrip=${1:-$root/build/tools/klvrip/klvrip}
out=$here/PRINTER.PrnLib
tmp=$here/PRINTER-new.PrnLib
rm -f "$tmp"
trap 'rm -f "$tmp"' EXIT

"$klvrip" vol put "$tmp" KlvCMYK.icc "$root/data/profiles/klv_cmyk.icc"
"$klvrip" vol put "$tmp" PlainPaper.InkRstr.xml "$here/PlainPaper.InkRstr.xml"
for media in "Glossy Photo" "Plain Paper"; do
  for res in 720x720 1440x720; do
    for pattern in 4 0; do
      "$klvrip" proflib "$tmp" add "$media" "$res" "$pattern" 2 KlvCMYK --table KlvCMYK.icc
      "$klvrip" proflib "$tmp" set-default "$media" "$res" "$pattern" 2 KlvCMYK
      if [ "$media" = "Plain Paper" ]; then
        "$klvrip" proflib "$tmp" add "$media" "$res" "$pattern" 7 InkRstr \
          --table PlainPaper.InkRstr.xml
      fi
    done
  done
done
mv "$tmp" "$out"
trap - EXIT
echo "wrote $out"

#!/bin/sh
# Installs the Debian packages KlvLib needs to build, test, benchmark and fuzz
# (`make fuzz`: clang, its sanitizer and libFuzzer runtimes in
# libclang-rt-14-dev, which apt only recommends, and llvm for
# llvm-symbolizer, which turns the addresses of a fuzz report into lines).
# Run as root it installs what is missing with apt-get; otherwise it prints the
# apt-get line to run and fails when something is missing.
set -e
PACKAGES="build-essential cmake ninja-build pkg-config clang clang-format \
libclang-rt-14-dev llvm libtiff-dev libjpeg62-turbo-dev zlib1g-dev libxml2-dev \
liblcms2-dev libsqlite3-dev libpng-dev libgtest-dev libgmock-dev \
libbenchmark-dev sqlite3 libtiff-tools libcups2-dev liblcms2-utils icc-profiles-free colord-data \
libjpeg-turbo-progs netpbm python3-pil graphicsmagick ghostscript"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = "0" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq --no-install-recommends $missing
else
  echo "missing packages:$missing" >&2
  echo "run: sudo apt-get install -y$missing" >&2
  exit 1
fi

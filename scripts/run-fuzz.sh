#!/bin/sh
# Runs every fuzz target in build-fuzz/fuzz for a few seconds each (the first
# argument, 30 by default), starting from a scratch copy of its seed corpus
# under fuzz/corpus/<target>. A target without seeds is an error: it would
# only find what random bytes reach.
set -e
seconds=${1:-30}
mkdir -p build-fuzz/artifacts
ran=0
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  if [ -z "$(ls -A "fuzz/corpus/$name" 2>/dev/null)" ]; then
    echo "$name has no seeds in fuzz/corpus/$name" >&2
    exit 1
  fi
  corpus=build-fuzz/corpus/$name
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp -r "fuzz/corpus/$name/." "$corpus/"
  echo "== $name"
  if ! KLV_LOG=/dev/null "$f" -max_total_time="$seconds" -artifact_prefix=build-fuzz/artifacts/ \
      "$corpus" > "build-fuzz/$name.log" 2>&1; then
    tail -n 40 "build-fuzz/$name.log"
    echo "$name failed; the input is in build-fuzz/artifacts/" >&2
    exit 1
  fi
  tail -n 1 "build-fuzz/$name.log"
  ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
  echo "no fuzz targets in build-fuzz/fuzz" >&2
  exit 1
fi
echo "fuzz: $ran targets ran for $seconds s each"

#!/bin/sh
# Runs every fuzz target in build-fuzz/fuzz for a few seconds each, starting
# from a scratch copy of its corpus under fuzz/corpus/<target>.
set -e
seconds=${1:-20}
mkdir -p build-fuzz/artifacts
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$corpus/"; fi
  echo "== $name"
  if ! KLV_LOG=/dev/null "$f" -max_total_time="$seconds" -artifact_prefix=build-fuzz/artifacts/ \
      "$corpus" > "build-fuzz/$name.log" 2>&1; then
    tail -n 40 "build-fuzz/$name.log"
    echo "$name failed; the input is in build-fuzz/artifacts/" >&2
    exit 1
  fi
  tail -n 1 "build-fuzz/$name.log"
done

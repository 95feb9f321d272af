#!/bin/sh
# Builds the libFuzzer target for FITS image reading (header and data) with clang and the
# address and undefined-behaviour sanitizers, and a seed corpus of small images made by the
# reader tests' fixture script, into the directory given as argument (default ./fuzz-build).
# Run: <dir>/fuzz_fits_read -max_len=40000 -max_total_time=600 <dir>/corpus
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-fuzz-build}
mkdir -p "$out/corpus" "$out/fixtures"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root/tests/fuzz/fuzz_fits_read.cpp" "$root"/orv/fits/fits*.cpp "$root"/util/*.cpp \
  -o "$out/fuzz_fits_read"
/usr/bin/python3 "$root/tests/orv/fits/data/img_make_fixtures.py" "$out/fixtures"
# Each seed: one control byte, then a fixture file.
i=0
for f in "$out"/fixtures/*.fits; do
  for control in 000 001 002 003 004 005 006 202; do
    { printf "\\$control"; cat "$f"; } > "$out/corpus/seed_${i}_$control"
  done
  i=$((i + 1))
done

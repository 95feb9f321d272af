#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and the address and undefined-behaviour sanitizers,
# each with a seed corpus, into the directory given as argument (default ./fuzz-build):
#   fuzz_fits_read          FITS image reading (header and data); seeds: small images made by
#                           the reader tests' fixture script
#   fuzz_ascio              ASCII column tables; seeds: the ASCII reader tests' fixtures
#   fuzz_config_file_reader configuration files into typed options; seed: one of every kind
# Installs clang when it is missing. Run, for example:
#   <dir>/fuzz_fits_read -max_len=40000 -max_total_time=600 <dir>/corpus
#   <dir>/fuzz_ascio -max_len=4000 -max_total_time=600 <dir>/corpus_ascio
#   <dir>/fuzz_config_file_reader -max_len=2000 -max_total_time=600 <dir>/corpus_config
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/setup.sh"
orv_install_packages clang
out=${1:-fuzz-build}
mkdir -p "$out/corpus" "$out/fixtures" "$out/corpus_ascio" "$out/corpus_config"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root")
clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_fits_read.cpp" "$root"/orv/fits/fits*.cpp "$root"/util/*.cpp \
  -o "$out/fuzz_fits_read"
clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_ascio.cpp" "$root"/orv/fits/ascio*.cpp "$root"/util/*.cpp \
  -o "$out/fuzz_ascio"
clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_config_file_reader.cpp" "$root"/util/*.cpp \
  -o "$out/fuzz_config_file_reader"

/usr/bin/python3 "$root/tests/orv/fits/data/img_make_fixtures.py" "$out/fixtures"
# Each FITS seed: one control byte, then a fixture file.
i=0
for f in "$out"/fixtures/*.fits; do
  for control in 000 001 002 003 004 005 006 202; do
    { printf "\\$control"; cat "$f"; } > "$out/corpus/seed_${i}_$control"
  done
  i=$((i + 1))
done
# Each ASCII seed: two control bytes (delimiter, comment and range; columns), then a table.
for f in "$root"/tests/orv/fits/data/asc_*.txt; do
  for control in '\000\021' '\021\041' '\001\003' '\224\002'; do
    { printf "$control"; cat "$f"; } > "$out/corpus_ascio/$(basename "$f" .txt)_${control//\\/}"
  done
done
printf '%s\n' 'verbose = 2 # more output' 'prefix = "a b"' 'flag = TRUE' 'factor = 2.5' 'scale = -1e3' \
  'sizes = 1,2,3' 'weights = 1.5,2' 'limits = 0,1' 'region = 270:1870,280:1880' > "$out/corpus_config/seed"

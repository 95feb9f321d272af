#!/usr/bin/env bash
# Seed corpora of the fuzz targets, under the directory given as argument (default .):
#   corpus/         fuzz_fits_read: one control byte, then a small image made by the reader
#                   tests' fixture script
#   corpus_ascio/   fuzz_ascio: two control bytes, then one of the ASCII reader tests' tables
#   corpus_config/  fuzz_config_file_reader: one entry of every kind
#   corpus_<target>/ the targets of the programs and libraries (make_seed_files.py): fuzz_star_table,
#                   fuzz_lightcurve_text, fuzz_lightcurve_raw, fuzz_psf_file, fuzz_brisel_header,
#                   fuzz_tarvole_header
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-.}
mkdir -p "$out/corpus" "$out/fixtures" "$out/corpus_ascio" "$out/corpus_config"
/usr/bin/python3 "$root/tests/orv/fits/data/img_make_fixtures.py" "$out/fixtures"
i=0
for f in "$out"/fixtures/*.fits; do
  for control in 000 001 002 003 004 005 006 202; do
    { printf "\\$control"; cat "$f"; } > "$out/corpus/seed_${i}_$control"
  done
  i=$((i + 1))
done
for f in "$root"/tests/orv/fits/data/asc_*.txt; do
  for control in '\000\021' '\021\041' '\001\003' '\224\002'; do
    { printf "$control"; cat "$f"; } > "$out/corpus_ascio/$(basename "$f" .txt)_${control//\\/}"
  done
done
printf '%s\n' 'verbose = 2 # more output' 'prefix = "a b"' 'flag = TRUE' 'factor = 2.5' 'scale = -1e3' \
  'sizes = 1,2,3' 'weights = 1.5,2' 'limits = 0,1' 'region = 270:1870,280:1880' > "$out/corpus_config/seed"
/usr/bin/python3 "$root/tests/fuzz/make_seed_files.py" "$out"

#!/usr/bin/env bash
# Times a whole run `tarvole R.fits I.fits` on a 4096 x 4096 pair beside cfitsio's imcopy copying
# R and I, in one run. Usage: bench/tarvole_run_vs_imcopy.sh [build directory] (default build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tarvole-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
/usr/bin/python3 - <<'PY'
import numpy as np
from astropy.io import fits
rng = np.random.default_rng(4096)
n = 4096
y, x = np.mgrid[1:n + 1, 1:n + 1].astype(np.float32)
R = 200 + 3000 * np.exp(-np.hypot(x - 1070, (y - 1077) * 1.4) / 150) + rng.normal(0, 3, (n, n))
I = R / 0.8 + 50 + 0.01 * (x - 1070) - 0.005 * (y - 1077) + rng.normal(0, 3, (n, n))
fits.writeto("R.fits", R.astype(np.float32))
fits.writeto("I.fits", I.astype(np.float32))
PY
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" > /dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
best() {  # best of three
  local b="" t
  for _ in 1 2 3; do
    rm -f bI.fits copyR.fits copyI.fits
    t=$(seconds "$@")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
copy_both() { imcopy R.fits copyR.fits && imcopy I.fits copyI.fits; }
t_tarvole=$(best "$build/tarvole/tarvole" R.fits I.fits)
t_imcopy=$(best copy_both)
printf "tarvole R.fits I.fits (4096 x 4096): %.3f s\n" "$t_tarvole"
printf "imcopy of R and I:                   %.3f s\n" "$t_imcopy"
printf "ratio: %.2f (goal <= 3)\n" "$(echo "$t_tarvole / $t_imcopy" | bc -l)"

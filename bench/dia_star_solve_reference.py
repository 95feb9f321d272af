"""The peer of one star's kernel fit in `tarvole -d`: a numpy normal-equation solve over a star box.

Usage: OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 taskset -c CORE /usr/bin/python3 \
           bench/dia_star_solve_reference.py [REPEATS]

One solve: the design matrix of the 101 x 101 box (10201 pixels) and 51 parameters, built
beforehand in float64, a weight per pixel, A^T W A, A^T W b and np.linalg.solve; with the
inverse as well (the fit reads the parameter variances from it). Prints the minimum and the
median over the repeats in milliseconds; bench_tarvole_dia's per_star_ms holds two such fits
per star (free flux, then fixed flux).

The design matrix is made once, outside the timing: on a machine where fresh pages are dear,
two new 4 MB arrays per call (a float32 to float64 copy and its weighted copy) triple the time.
"""
import statistics
import sys
import time

import numpy as np

PIXELS = 101 * 101
PARAMS = 51


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    rng = np.random.default_rng(5)
    A = rng.standard_normal((PIXELS, PARAMS))
    b = rng.standard_normal(PIXELS)
    w = rng.uniform(0.5, 2.0, PIXELS)

    def normal_equations():
        Aw = A * w[:, None]
        return Aw.T @ A, Aw.T @ b

    def solve():
        N, v = normal_equations()
        return np.linalg.solve(N, v)

    def solve_and_invert():
        N, v = normal_equations()
        return np.linalg.solve(N, v), np.linalg.inv(N)

    for name, f in (("normal-equation solve", solve), ("solve and inverse", solve_and_invert)):
        f()
        times = []
        for _ in range(repeats):
            t = time.perf_counter()
            f()
            times.append(1e3 * (time.perf_counter() - t))
        print(f"numpy {name} {PIXELS} x {PARAMS}: min {min(times):.3f} ms, median {statistics.median(times):.3f} ms")


if __name__ == "__main__":
    main()

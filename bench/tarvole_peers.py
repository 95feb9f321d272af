"""Times the sky program's spline methods beside the background estimators of other tools on one
4096² pair, and compares their skies with the truth.

Usage: /usr/bin/python3 bench/tarvole_peers.py BUILD_DIR [WORK_DIR]
BUILD_DIR holds tarvole/tarvole and bench/bench_tarvole_surface (built with -DORV_BENCH=ON).
Peers: source-extractor (CHECKIMAGE_TYPE BACKGROUND, BACK_SIZE 61, BACK_FILTERSIZE 3, no
detection), photutils Background2D((61, 61), filter_size=(3, 3)), sep.Background(bw=61, bh=61,
fw=3, fh=3).back(), scipy.ndimage.median_filter(size=21) (on a 1024² crop: the whole image
takes minutes). Peers that are not installed are skipped.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.io import fits

N = 4096
CX, CY = 2140, 2154
A_TRUE = 0.8


def scene():
    rng = np.random.default_rng(3)
    y, x = np.mgrid[1:N + 1, 1:N + 1].astype(np.float64)
    r2 = (x - CX) ** 2 + (y - CY) ** 2
    R = 200 + 3000 * np.exp(-np.sqrt(r2) / 120.0) + 600 * np.exp(-r2 / (2 * 800.0 ** 2))
    for sx, sy, f in zip(rng.uniform(10, N - 10, 1200), rng.uniform(10, N - 10, 1200), rng.uniform(500, 20000, 1200)):
        x0, y0 = int(sx) - 8, int(sy) - 8
        yy, xx = np.mgrid[y0:y0 + 17, x0:x0 + 17]
        R[y0 - 1:y0 + 16, x0 - 1:x0 + 16] += f / (8 * np.pi) * np.exp(-((xx - sx) ** 2 + (yy - sy) ** 2) / 8.0)
    sky = 50 + 0.01 * (x - CX) - 0.005 * (y - CY) + 10 * np.sin(2 * np.pi * x / 1500) * np.cos(2 * np.pi * y / 1300)
    I = R / A_TRUE + sky
    Rn = R + rng.normal(0, 1, R.shape) * np.sqrt(R)
    In = I + rng.normal(0, 1, I.shape) * np.sqrt(I)
    return Rn.astype(np.float32), In.astype(np.float32), R, I, r2


def timed(f):
    t = time.perf_counter()
    result = f()
    return time.perf_counter() - t, result


def report(name, seconds, note=""):
    print(f"{name:55s} {seconds:8.3f} s {note}")


def errors(sky, truth, r2, covered):
    """RMS of sky - truth over the covered pixels, over those 300 px or more inside the border
    (the outer knots lie up to about 3 cells inside it: the border strip is extrapolated) and over
    the galaxy core."""
    d = sky - truth
    inner = np.zeros_like(covered)
    inner[300:-300, 300:-300] = True
    core = covered & (r2 < 150 ** 2)
    rms = lambda m: np.sqrt(np.mean(d[m] ** 2))
    return rms(covered), rms(covered & inner), rms(core)


def main():
    build = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="tarvole_peers_")
    os.makedirs(work, exist_ok=True)
    os.chdir(work)
    R, I, R_model, I_model, r2 = scene()
    fits.writeto("R.fits", R, overwrite=True)
    fits.writeto("I.fits", I, overwrite=True)
    tarvole = os.path.join(build, "tarvole", "tarvole")
    print(f"4096² pair in {work}")

    # Our surface stages, from the Google Benchmark of the same build.
    bench = os.path.join(build, "bench", "bench_tarvole_surface")
    if os.path.exists(bench):
        out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_min_time=2",
                              "--benchmark_filter=BM_BinsplineSurface|BM_FixedCellSurface|BM_RunningMedian$"],
                             capture_output=True, text=True, check=True).stdout
        for b in json.loads(out)["benchmarks"]:
            report(f"ours: {b['name']} (4096², Google Benchmark)", b["real_time"] / 1e3)

    skies = {}
    for flags, label in (("-s -v 1", "ours: tarvole -s (whole run, R and I)"),
                         ("-h -v 1", "ours: tarvole -h (whole run, R and I)")):
        t, _ = timed(lambda: subprocess.run(f"{tarvole} {flags} R.fits I.fits", shell=True, check=True,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        report(label, t)
        skies[flags.split()[0]] = (fits.getdata("sky-bI.fits").astype(np.float64),
                                   fits.getheader("bI.fits")["ABSORP"])

    if shutil.which("source-extractor"):
        with open("back.sex", "w") as f:
            f.write("CATALOG_TYPE NONE\nCHECKIMAGE_TYPE BACKGROUND\nCHECKIMAGE_NAME back.fits\nBACK_SIZE 61\n"
                    "BACK_FILTERSIZE 3\nDETECT_THRESH 1e10\nANALYSIS_THRESH 1e10\nVERBOSE_TYPE QUIET\n")
        with open("one.param", "w") as f:
            f.write("NUMBER\n")
        run = lambda name: subprocess.run(["source-extractor", name, "-c", "back.sex", "-PARAMETERS_NAME",
                                           "one.param", "-FILTER", "N"], check=True, capture_output=True)
        t, _ = timed(lambda: run("I.fits"))
        report("source-extractor BACKGROUND check image (I)", t)
        backI = fits.getdata("back.fits").astype(np.float64)
        run("R.fits")
        skies["source-extractor"] = (A_TRUE * backI - fits.getdata("back.fits").astype(np.float64), None)
    try:
        import sep
        t, backI = timed(lambda: sep.Background(I.astype(np.float64), bw=61, bh=61, fw=3, fh=3).back())
        report("sep.Background(...).back() (I)", t)
        backR = sep.Background(R.astype(np.float64), bw=61, bh=61, fw=3, fh=3).back()
        skies["sep"] = (A_TRUE * backI - backR, None)
    except ImportError:
        print("sep not installed")
    try:
        from photutils.background import Background2D
        t, (bR, bI) = timed(lambda: (Background2D(R, (61, 61), filter_size=(3, 3)).background,
                                     Background2D(I, (61, 61), filter_size=(3, 3)).background))
        report("photutils Background2D (R and I)", t)
        skies["photutils"] = (A_TRUE * bI - bR, None)
    except ImportError:
        print("photutils not installed")
    from scipy import ndimage
    crop = I[1536:2560, 1536:2560]
    t, _ = timed(lambda: ndimage.median_filter(crop, size=21))
    report("scipy median_filter(size=21), 1024² crop", t, f"(= {t * 16:.1f} s for 4096²)")

    # Accuracy: the truth of a sky with absorption A is A·I_model − R_model (A·B of R = A(I − B)); ours
    # uses its own absorption, the peers the true one on their backgrounds of R and I.
    covered = np.abs(skies["-s"][0]) < 1e19
    print("\nsky error against the truth (RMS counts)                all   300 px inside   galaxy core (r < 150)")
    for name, (sky, absorp) in skies.items():
        a = A_TRUE if absorp is None else absorp
        all_rms, inner_rms, core_rms = errors(sky, a * I_model - R_model, r2, covered & (np.abs(sky) < 1e19))
        print(f"  {name:50s} {all_rms:8.3f}   {inner_rms:8.3f}   {core_rms:8.3f}")


if __name__ == "__main__":
    main()

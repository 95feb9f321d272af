# Box-fitting search written independently with numpy, for the tests: the
# points that take part (finite date, flux and weight) are renormalised
# with inverse-variance weights, folded per trial on the default epoch (the
# first of their dates at phase 0), optionally binned, then
# every box (start i1, end i2) is scored with running sums from i1, all
# boxes of a trial at once.
#
# Input (file named on the command line), one item per line:
#   nper pmin pmax qmin qmax nbins
#   dates / fluxes / errors (space-separated)
# Output: the frequencies and SR of every trial, then for the ten peaks
# "trial SDE period tau t0 H L", then the last trial's phases.
import sys
import numpy as np

lines = open(sys.argv[1]).read().split("\n")
head = lines[0].split()
nper, pmin, pmax, qmin, qmax, nbins = int(head[0]), *map(float, head[1:5]), int(head[5])
jd = np.array(lines[1].split(), float)
flux = np.array(lines[2].split(), float)
err = np.array(lines[3].split(), float)
# A point whose date, flux or weight 1/err^2 is not finite takes no part.
with np.errstate(divide="ignore"):
    part = np.isfinite(jd) & np.isfinite(flux) & np.isfinite(1 / err**2)
jd, flux, err = jd[part], flux[part], err[part]

v = 1 / err**2
w = v / v.sum()
level = np.sum(flux * w)
x0 = flux - level

df = (1 / pmin - 1 / pmax) / (nper - 1)
freqs = []
f = 1 / pmax
for k in range(nper):
    freqs.append(f)
    f += df
freqs = np.array(freqs)


def fold(P):
    t0 = jd[0] + P * 0.5
    x = (jd - t0) / P
    x = x - np.trunc(x)
    x = np.where(x < 0, x + 1, x) + 0.5
    return np.where(x >= 1, x - 1, x)


def trial_curve(f):
    ph = fold(1 / f)
    o = np.argsort(ph, kind="stable")
    ph, x, e, ww = ph[o], x0[o], err[o], w[o]
    if nbins:
        thr = np.arange(1, nbins) * (1.0 / nbins)
        b = np.searchsorted(thr, ph, side="right")
        vv = 1 / e**2
        W = np.bincount(b, vv, nbins)
        P = np.bincount(b, vv * ph, nbins)
        F = np.bincount(b, vv * x, nbins)
        keep = W != 0
        ph, x, e = P[keep] / W[keep], F[keep] / W[keep], 1 / np.sqrt(W[keep])
        ww = (1 / e**2) / np.sum(1 / e**2)
    return ph, x, ww


SR = np.zeros(nper)
box = np.zeros((nper, 4))  # H, L, width, centre
with np.errstate(all="ignore"):
    for k in range(nper):
        ph, x, ww = trial_curve(freqs[k])
        # Row i1 holds the running sums from i1 (zeros before it add nothing).
        M = len(ph)
        upper = np.triu(np.ones((M, M)))
        r = np.cumsum(upper * ww, axis=1)
        s = np.cumsum(upper * (ww * x), axis=1)
        q = ph[None, :] - ph[:, None]
        sr = np.sqrt(s**2 / (r * (1 - r)))
        sr[np.abs(r - 1) <= 1e-9] = 0
        H, L = -s / (1 - r), s / r
        inA = (qmin <= q) & (q <= qmax)
        inB = ~inA & (qmin <= 1 - q) & (1 - q <= qmax)
        cand = ((inA & (H > L)) | (inB & (L > H))) & ~np.isnan(sr) & (upper > 0)
        scored = np.where(cand, sr, -1.0)
        # The first of equal residues in the order of (i1, i2) is kept.
        i1, i2 = np.unravel_index(int(np.argmax(scored)), scored.shape)
        best = max(scored[i1, i2], 0.0)
        if best > 0:
            c = (ph[i1] + ph[i2]) / 2
            if inA[i1, i2]:
                box[k] = (H[i1, i2], L[i1, i2], q[i1, i2], c)
            else:
                box[k] = (L[i1, i2], H[i1, i2], 1 - q[i1, i2], c - 0.5)
        SR[k] = best

peaks = []
for m in range(10):
    best, cand = 0.0, -1
    for k in range(nper):
        if any(abs(freqs[k] - freqs[j]) <= 5 * df for j in peaks if j >= 0):
            continue
        if SR[k] >= best:
            best, cand = SR[k], k
    peaks.append(cand)
if SR[peaks[0]] > 0:
    SR = SR / SR[peaks[0]]
mean = np.sum(SR / nper)
D = np.sum(np.abs(SR - mean) / (nper - 1))
for k in range(nper):
    print(repr(freqs[k]), repr(SR[k]))
for k in peaks:
    if k < 0:
        print(0, 0, 0, 0, 0, 0, 0)
        continue
    sde = max((SR[k] - mean) / D, 0) if D > 0 else 0.0
    print(k + 1, repr(sde), repr(1 / freqs[k]), repr(box[k, 2]), repr(box[k, 3] / freqs[k] + jd[0]),
          repr(box[k, 0] + level), repr(box[k, 1] + level))
ph, x, ww = trial_curve(freqs[-1])
print(len(ph))
for p in ph:
    print(repr(p))

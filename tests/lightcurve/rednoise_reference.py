# The red-noise analyses written independently with numpy, for the tests.
# Input file: line 1 "dt w T nbins minpairs", then dates, fluxes, errors and
# removed values, one line each. Output: the analyse_rednoise table as
# printed, a line "--", the corrspec.tbl text, "--", then the rows of
# analyze_rednoise2 and of analyze_rednoise (numbers only), "--" between.
import sys
import numpy as np

lines = open(sys.argv[1]).read().split("\n")
head = lines[0].split()
dt, w, T, nbins, minpairs = float(head[0]), float(head[1]), float(head[2]), int(head[3]), int(head[4])
jd, fl, er, rm = (np.array(lines[k].split(), float) for k in range(1, 5))
N = len(jd)

# Sliding time window over the removed curve.
groups = [(1, 1)]
s = e = 1
while True:
    if jd[e] - jd[s - 1] <= dt:
        e += 1
    else:
        s += 1
        if jd[e] - jd[s - 1] <= dt:
            e += 1
    groups.append((s, e))
    if s >= N:
        break
    if e < N:
        continue
    while s < N:
        s += 1
        groups.append((s, N))
    break
counts = np.array([e - s + 1 for s, e in groups])
means = np.array([np.mean(rm[s - 1:e]) for s, e in groups])
table, spec = [], []
for n in range(1, counts.max() + 1):
    sel = means[counts == n]
    k = len(sel)
    m = sel.mean() if k else 0.0
    sig = np.sqrt(np.sum((sel - m) ** 2) / (k - 1)) if k > 1 else 0.0
    u = er[0] / np.sqrt(n)
    r = np.sqrt(sig**2 - u**2) if sig**2 - u**2 > 0 else 0.0
    table.append("%2d %4d %6.3g %9.3g %9.3g%10.3g" % (n, k, m, sig, u, r))
    spec.append("%4d %10.3g" % (2 * n, r))
print("\n".join(table))
print("--")
print("\n".join(spec))
print("--")

# Fixed window over the flux.
med = np.median(fl)
rms = np.sqrt(np.sum((fl - med) ** 2) / (N - 1))
d = np.diff(jd)
dmin = min([jd[-1] - jd[0]] + list(d[d > 0]))
c = np.zeros(N + 1, int)
a = np.zeros(N + 1)
lo = jd[0] - 2 * w
hi = lo + w
pf = pl = 0


def indices(lo, hi):
    first = next((i + 1 for i in range(N - 1) if jd[i] >= lo), N)
    last = max([i + 1 for i in range(N) if jd[i] <= hi] + [1])
    return first, last


while True:
    while True:
        lo += dmin / 5
        hi += dmin / 5
        first, last = indices(lo, hi)
        if not ((first == pf or first > last) and last == pl):
            break
    if first <= last:
        n = last - first + 1
        c[n] += 1
        a[n] += (med - np.mean(fl[first - 1:last])) ** 2
    pf, pl = first, last
    if first >= N or last >= N:
        break
for n in range(1, N + 1):
    if c[n] > 1:
        print(n, repr(np.sqrt(a[n] / (c[n] - 1)) / med), repr(rms / np.sqrt(n) / med), c[n])
print("--")

# Lag bins over all pairs.
for m in range(1, nbins + 1):
    L = (m - 1) * T / nbins
    ck = np.zeros(N + 1, int)
    ak = np.zeros(N + 1)
    for i in range(N - 1):
        for j in range(i + 1, N):
            if L < jd[j] - jd[i] <= L + T / nbins:
                k = j - i + 1
                ck[k] += 1
                ak[k] += (med - np.mean(fl[i:j + 1])) ** 2
    col1 = col2 = 0.0
    for k in range(1, N + 1):
        if ck[k] >= max(minpairs, 2) and ak[k] / (ck[k] - 1) - rms**2 / k > 0:
            col1 += np.sqrt(ak[k] / (ck[k] - 1) - rms**2 / k)
            col2 += 1
    if col2 != 0:
        col1 = col1 / (col2 * med)
    print(repr(col1), col2)

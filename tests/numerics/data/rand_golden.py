#!/usr/bin/python3
"""Golden table for the random-number generators, written from the
description of the algorithm (Knuth's subtractive generator with a 55-entry
table, modulus 10^9 and seed constant 161803398), independently of the C++
code. Run: /usr/bin/python3 rand_golden.py > rand_golden.txt

Each line: kind seed k value
  int   the k-th new table entry after seeding with `seed`
  ran3  the k-th deviate of the free function (entry * 1e-9)
  cls   the k-th deviate of the class generator (entry / 1e9)
  gau   the k-th Gaussian deviate of rangau after seeding with `seed`
  sin   the k-th sine deviate of ransin after seeding with `seed`
  exp   the k-th exponential deviate of ranexp after seeding with `seed`
  cgau  the k-th deviate of the class Gaussian generator seeded with `seed`
Floats are printed as the shortest text that reads back to the same double.
"""
import math

MBIG = 1000000000
MSEED = 161803398
LONG_MIN = -(2**63)
LONG_MAX = 2**63 - 1
COUNT = 20


class Subtractive:
    def __init__(self, seed):
        ma = [0] * 56
        mj = abs(MSEED - abs(seed)) % MBIG
        ma[55] = mj
        mk = 1
        for i in range(1, 55):
            ii = (21 * i) % 55
            ma[ii] = mk
            mk = mj - mk
            if mk < 0:
                mk += MBIG
            mj = ma[ii]
        for _ in range(4):
            for i in range(1, 56):
                ma[i] -= ma[1 + (i + 30) % 55]
                if ma[i] < 0:
                    ma[i] += MBIG
        self.ma = ma
        self.inext = 0
        self.inextp = 31

    def next_int(self):
        self.inext = 1 if self.inext == 55 else self.inext + 1
        self.inextp = 1 if self.inextp == 55 else self.inextp + 1
        mj = self.ma[self.inext] - self.ma[self.inextp]
        if mj < 0:
            mj += MBIG
        self.ma[self.inext] = mj
        return mj

    def free(self):  # the free functions scale by multiplication
        return self.next_int() * 1e-9

    def cls(self):  # the classes scale by division
        return self.next_int() / 1e9


def polar(first, second):
    while True:
        a = 2.0 * first() - 1.0
        b = 2.0 * second() - 1.0
        r = a * a + b * b
        if not (r >= 1.0 or r == 0.0):
            return a * math.sqrt(-2.0 * math.log(r) / r)


def sine(gen):
    while True:
        u1 = gen.free()
        u2 = gen.free()
        x = 3.14159265358979 * u2 * 0.5
        if not (math.sin(x) < u1):
            return x


def exponential(gen):
    while True:
        u = gen.free()
        if u != 0.0:
            return -math.log(u)


def main():
    seeds = [-1, -17, 5, 0, -161803398, -1000000000, LONG_MIN, LONG_MAX]
    for s in seeds:
        g = Subtractive(s)
        ints = [g.next_int() for _ in range(COUNT)]
        for k, v in enumerate(ints, 1):
            print("int", s, k, v)
        for k, v in enumerate(ints, 1):
            print("ran3", s, k, repr(v * 1e-9))
        for k, v in enumerate(ints, 1):
            print("cls", s, k, repr(v / 1e9))
    for s in [-1, -17, -161803398]:
        g = Subtractive(s)
        for k in range(1, COUNT + 1):
            print("gau", s, k, repr(polar(g.free, g.free)))
        g = Subtractive(s)
        for k in range(1, COUNT + 1):
            print("sin", s, k, repr(sine(g)))
        g = Subtractive(s)
        for k in range(1, COUNT + 1):
            print("exp", s, k, repr(exponential(g)))
    for s in [17, -5, LONG_MIN]:
        g1 = Subtractive(s)
        g2 = Subtractive(s - 3 if s - 3 >= LONG_MIN else s - 3 + 2**64)
        for k in range(1, COUNT + 1):
            print("cgau", s, k, repr(polar(g1.cls, g2.cls)))


main()

#!/usr/bin/env python3
"""Writes a zygomet-test input file for the benchmark: one marker per line,
n from 100 to 20000, allele frequencies spread over (0, 1), counts drawn near
Hardy-Weinberg proportions with an inbreeding coefficient from -0.05 to 0.1.

    bench/make-test-samples.py LINES FILE [SEED]

The same arguments give the same file."""

import math
import random
import sys


def binomial(rng, n, p):
    """A binomial draw: exact for small means, a rounded normal otherwise."""
    if n <= 0 or p <= 0:
        return 0
    if p >= 1:
        return n
    mean = n * p
    if mean < 30 or n - mean < 30:
        # Inversion from whichever tail is small.
        flip = p > 0.5
        q = 1 - p if flip else p
        count, prob = 0, (1 - q) ** n
        u, cumulative = rng.random(), (1 - q) ** n
        while u > cumulative and count < n:
            prob *= (n - count) / (count + 1) * q / (1 - q)
            count += 1
            cumulative += prob
        return n - count if flip else count
    x = round(rng.gauss(mean, math.sqrt(mean * (1 - p))))
    return min(n, max(0, x))


def main():
    lines, path = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    with open(path, "w") as out:
        out.write("marker\tAA\tAB\tBB\n")
        for i in range(lines):
            n = rng.randint(100, 20000)
            p = rng.random()
            q = 1 - p
            f = rng.uniform(-0.05, 0.1)
            f_aa = max(0.0, p * p + f * p * q)
            f_bb = max(0.0, q * q + f * p * q)
            f_ab = max(0.0, 1 - f_aa - f_bb)
            aa = binomial(rng, n, f_aa)
            rest = 1 - f_aa
            ab = binomial(rng, n - aa, f_ab / rest if rest > 0 else 0)
            bb = n - aa - ab
            out.write(f"rs{i + 1}\t{aa}\t{ab}\t{bb}\n")


if __name__ == "__main__":
    main()

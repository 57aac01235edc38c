"""Times the Python module against the command lines on the same work.

Usage: PYTHONPATH=build/python python3 python/benchmark/bench_module.py build/zygomet-test build/zygomet-power

1. zygomet.test on 10^6 samples (exact, exact-midp, x2): the call alone
   against the whole zygomet-test process on the same counts (CSV to
   /dev/null), and against a per-element Python loop over the same
   function (timed on a share of the samples and scaled).
2. zygomet.power at one point of n 10^4 against the zygomet-power process.
"""

import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import zygomet


def best(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main(zygomet_test, zygomet_power):
    rng = np.random.default_rng(1)
    count = 10**6
    n = rng.integers(500, 5000, count)
    p = rng.uniform(0.05, 0.95, count)
    aa = rng.binomial(n, p * p)
    ab = rng.binomial(n - aa, 2 * p * (1 - p) / (1 - p * p))
    bb = n - aa - ab
    tests = "exact,exact-midp,x2"
    with tempfile.TemporaryDirectory() as folder:
        counts = os.path.join(folder, "counts.txt")
        np.savetxt(counts, np.stack([aa, ab, bb], axis=1), fmt="%d")
        call = best(lambda: zygomet.test(aa, ab, bb, tests=tests), 3)
        one_thread = best(lambda: zygomet.test(aa, ab, bb, tests=tests, threads=1), 3)
        process = best(lambda: subprocess.run(
            [zygomet_test, "--file", counts, "--test", tests, "--csv", "/dev/null"], check=True), 3)
    share = 20000
    loop = best(lambda: [zygomet.test(aa[i], ab[i], bb[i], tests=tests) for i in range(share)], 1)
    loop *= count / share
    print("zygomet.test, 10^6 samples, %s:" % tests)
    print("  the call:                    %8.3f s" % call)
    print("  the call on one thread:      %8.3f s" % one_thread)
    print("  zygomet-test, whole process: %8.3f s  (call / process %.2f)" % (process, call / process))
    print("  per-element Python loop:     %8.3f s  (loop / call %.1f)" % (loop, loop / call))

    arguments = dict(p=0.3, n=10**4, tests="exact", levels=0.05)
    call = best(lambda: zygomet.power("inbreeding", f=0.05, **arguments), 5)
    process = best(lambda: subprocess.run(
        [zygomet_power, "--model", "inbreeding", "--f", "0.05", "--p", "0.3", "--n", "10000",
         "--test", "exact", "--level", "0.05", "--csv", "-"], check=True,
        stdout=subprocess.DEVNULL), 5)
    empty = best(lambda: subprocess.run([zygomet_power, "--version"], check=True,
                                        stdout=subprocess.DEVNULL), 5)
    print("zygomet.power, one point of n 10^4 (inbreeding f 0.05, p 0.3, exact, 0.05):")
    print("  the call:                     %7.2f ms" % (call * 1e3))
    print("  zygomet-power, whole process: %7.2f ms (of which starting: %.2f ms)"
          % (process * 1e3, empty * 1e3))
    print("  call - engine time:           %7.2f ms" % ((call - (process - empty)) * 1e3))


if __name__ == "__main__":
    main(*sys.argv[1:3])

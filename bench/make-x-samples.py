#!/usr/bin/env python3
"""Writes the same X-linked markers twice, for timing zygomet-test against a
genotyping toolkit: PREFIX.txt (zygomet-test's five counts AA AB BB A B per
line) and a PLINK fileset PREFIX.bed/.bim/.fam (chromosome 23 outside the
pseudo-autosomal regions, sexes in the .fam, males coded homozygous).

    bench/make-x-samples.py MARKERS FEMALES MALES PREFIX [SEED]

Needs numpy. The same arguments give the same files."""

import sys

import numpy as np


def main():
    markers, females, males = (int(a) for a in sys.argv[1:4])
    prefix = sys.argv[4]
    rng = np.random.default_rng(int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    p = rng.uniform(0.05, 0.5, markers)
    # Copies of allele B: 0, 1 or 2 in females, 0 or 2 (hemizygous) in males.
    fem = rng.binomial(2, p[:, None], (markers, females))
    mal = rng.binomial(1, p[:, None], (markers, males)) * 2
    with open(prefix + ".txt", "w") as f:
        f.write("marker AA AB BB A B\n")
        for i in range(markers):
            f.write("x%d %d %d %d %d %d\n" % (i, (fem[i] == 0).sum(), (fem[i] == 1).sum(),
                                              (fem[i] == 2).sum(), (mal[i] == 0).sum(),
                                              (mal[i] == 2).sum()))
    with open(prefix + ".bim", "w") as f:
        for i in range(markers):
            f.write("23\tx%d\t0\t%d\tB\tA\n" % (i, 3000000 + 10 * i))
    with open(prefix + ".fam", "w") as f:
        for j in range(females):
            f.write("f%d f%d 0 0 2 -9\n" % (j, j))
        for j in range(males):
            f.write("m%d m%d 0 0 1 -9\n" % (j, j))
    # SNP-major .bed: two bits per person, 00 two copies of the first allele
    # (B), 10 heterozygous, 11 none.
    g = np.concatenate([fem, mal], axis=1)
    code = np.array([3, 2, 0], dtype=np.uint8)[g]
    code = np.pad(code, ((0, 0), (0, (-code.shape[1]) % 4))).reshape(markers, -1, 4)
    packed = code[:, :, 0] | (code[:, :, 1] << 2) | (code[:, :, 2] << 4) | (code[:, :, 3] << 6)
    with open(prefix + ".bed", "wb") as f:
        f.write(bytes([0x6C, 0x1B, 1]))
        f.write(packed.astype(np.uint8).tobytes())


if __name__ == "__main__":
    main()

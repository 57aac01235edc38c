#!/usr/bin/python3
"""Writes a synthetic genotype dataset for the genotype-file benchmarks: the
same markers and people as a bgzipped VCF (with .csi and .tbi indexes), a
PLINK 1 binary fileset (.bed SNP-major, .bim, .fam) and a sex file for the VCF.

    bench/make-genotype-files.py DIR [--markers M] [--people N] [--seed S]

Defaults: 100,000 markers x 2,000 people, half of them male. Minor allele
frequencies run from 0.001 to 0.5 (half log-uniform, half uniform above 0.01),
each marker has its own missing-call rate (0 to 5%), about 2.5% of markers are
out of Hardy-Weinberg proportions (inbreeding f from -0.2 to 0.3), a few have
no called genotype, and about 5% lie on chromosome X: a tenth of those inside
the GRCh38 pseudo-autosomal regions (diploid in males, chromosome XY in the
.bim), the rest outside (haploid calls in males, with a rare heterozygous
male call as a genotyping error). A quarter of the markers carry phased calls.
The same arguments give the same files. Needs numpy, bgzip and tabix; bcftools
for the .csi index when it is installed."""

import argparse
import os
import shutil
import subprocess
import sys

import numpy as np

# GRCh38 lengths, used for the ##contig lines and to spread positions.
CONTIGS = [
    ("1", 248956422), ("2", 242193529), ("3", 198295559), ("4", 190214555),
    ("5", 181538259), ("6", 170805979), ("7", 159345973), ("8", 145138636),
    ("9", 138394717), ("10", 133797422), ("11", 135086622), ("12", 133275309),
    ("13", 114364328), ("14", 107043718), ("15", 101991189), ("16", 90338345),
    ("17", 83257441), ("18", 80373285), ("19", 58617616), ("20", 64444167),
    ("21", 46709983), ("22", 50818468), ("X", 156040895),
]
PAR1 = (10001, 2781479)
PAR2 = (155701383, 156030895)

# Genotype codes held per call: the number of ALT copies for diploid calls.
HOM_REF, HET, HOM_ALT, MISSING, HAP_REF, HAP_ALT, HAP_MISSING = range(7)


def layout(rng, markers):
    """Chromosome and sorted positions per marker; X-linked markers are 5%."""
    n_x = markers // 20
    n_auto = markers - n_x
    lengths = np.array([length for _, length in CONTIGS[:22]], dtype=float)
    per_chrom = rng.multinomial(n_auto, lengths / lengths.sum())
    chroms, positions, in_par = [], [], []
    for (name, length), count in zip(CONTIGS[:22], per_chrom):
        pos = np.sort(rng.choice(np.arange(1, length + 1, 37), count, replace=False))
        chroms += [name] * count
        positions.append(pos)
        in_par.append(np.zeros(count, dtype=bool))
    n_par = n_x // 10
    n_par1 = n_par // 2
    def spaced(lo, hi, count):
        return rng.choice(np.arange(lo, hi + 1, 37), count, replace=False)

    xpos = np.concatenate([
        spaced(PAR1[0], PAR1[1], n_par1),
        spaced(PAR2[0], PAR2[1], n_par - n_par1),
        spaced(PAR1[1] + 1, PAR2[0] - 1, n_x - n_par),
    ])
    xpar = np.concatenate([np.ones(n_par, dtype=bool), np.zeros(n_x - n_par, dtype=bool)])
    order = np.argsort(xpos, kind="stable")
    xpos, xpar = xpos[order], xpar[order]
    chroms += ["X"] * n_x
    positions.append(xpos)
    in_par.append(xpar)
    return chroms, np.concatenate(positions), np.concatenate(in_par)


def marker_parameters(rng, markers):
    """Per marker: ALT allele frequency, inbreeding f, missing rate, phasing."""
    half = markers // 2
    maf = np.concatenate([
        10 ** rng.uniform(np.log10(0.001), np.log10(0.5), half),
        rng.uniform(0.01, 0.5, markers - half),
    ])
    rng.shuffle(maf)
    # The ALT allele is the minor one four times in five.
    alt_freq = np.where(rng.random(markers) < 0.8, maf, 1 - maf)
    f = np.zeros(markers)
    deficit = rng.random(markers) < 0.02
    excess = rng.random(markers) < 0.005
    f[deficit] = rng.uniform(0.05, 0.3, deficit.sum())
    f[excess] = rng.uniform(-0.2, -0.05, excess.sum())
    # Excess heterozygosity is bounded by the rarer allele.
    p, q = alt_freq, 1 - alt_freq
    f = np.maximum(f, -np.minimum(p, q) / np.maximum(p, q))
    missing = np.where(rng.random(markers) < 0.1, 0.0, rng.uniform(0, 0.05, markers))
    missing[rng.choice(markers, 5, replace=False)] = 1.0
    phased = rng.random(markers) < 0.25
    return alt_freq, f, missing, phased


def draw_chunk(rng, p, f, missing, male, hemizygous, male_het_rate):
    """Genotype codes (markers x people) for one chunk of markers."""
    m = len(p)
    n = len(male)
    q = 1 - p
    hom_alt = p * p + f * p * q
    het = 2 * p * q * (1 - f)
    u = rng.random((m, n))
    codes = (u >= hom_alt[:, None]).astype(np.uint8)  # 0 hom ALT, 1 otherwise
    codes += u >= (hom_alt + het)[:, None]  # 2 hom REF
    codes = (HOM_ALT - codes).astype(np.uint8)  # ALT copies
    hemi = hemizygous[:, None] & male[None, :]
    if hemi.any():
        v = rng.random((m, n))
        hap = np.where(v < p[:, None], HAP_ALT, HAP_REF).astype(np.uint8)
        err = rng.random((m, n)) < male_het_rate[:, None]
        hap = np.where(err, HET, hap).astype(np.uint8)
        codes = np.where(hemi, hap, codes).astype(np.uint8)
    gone = rng.random((m, n)) < missing[:, None]
    codes = np.where(gone, np.where(hemi, HAP_MISSING, MISSING), codes).astype(np.uint8)
    return codes


def token_table(phased):
    """Four-byte tokens per genotype code; NUL pads the short haploid ones."""
    sep = "|" if phased else "/"
    texts = ["0%s0" % sep, "0%s1" % sep, "1%s1" % sep, ".%s." % sep, "0", "1", "."]
    table = np.zeros((7, 4), dtype=np.uint8)
    for code, text in enumerate(texts):
        raw = (text + "\t").encode()
        table[code, : len(raw)] = np.frombuffer(raw, dtype=np.uint8)
    return table


def vcf_rows(codes, phased, fixed):
    """The VCF text of a chunk: fixed columns, then the calls."""
    tables = [token_table(False), token_table(True)]
    out = []
    for i in range(codes.shape[0]):
        table = tables[int(phased[i])]
        raw = table[codes[i]].tobytes().replace(b"\0", b"")
        out.append(fixed[i] + raw[:-1] + b"\n")
    return b"".join(out)


# .bed two-bit codes with A1 = ALT: 00 hom A1, 01 missing, 10 het, 11 hom A2.
BED_CODE = np.array([3, 2, 0, 1, 3, 0, 1], dtype=np.uint8)


def bed_rows(codes):
    bits = BED_CODE[codes]
    n = bits.shape[1]
    pad = (-n) % 4
    if pad:
        bits = np.concatenate([bits, np.ones((bits.shape[0], pad), dtype=np.uint8)], axis=1)
    b = bits.reshape(bits.shape[0], -1, 4)
    return (b[:, :, 0] | (b[:, :, 1] << 2) | (b[:, :, 2] << 4) | (b[:, :, 3] << 6)).astype(np.uint8).tobytes()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("dir")
    parser.add_argument("--markers", type=int, default=100_000)
    parser.add_argument("--people", type=int, default=2_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--chunk", type=int, default=1000)
    args = parser.parse_args()
    if shutil.which("bgzip") is None or shutil.which("tabix") is None:
        sys.exit("make-genotype-files: bgzip and tabix are needed (Debian package tabix)")
    os.makedirs(args.dir, exist_ok=True)
    rng = np.random.default_rng(args.seed)

    n = args.people
    ids = ["S%05d" % (i + 1) for i in range(n)]
    male = np.zeros(n, dtype=bool)
    male[rng.choice(n, n // 2, replace=False)] = True
    chroms, positions, in_par = layout(rng, args.markers)
    alt_freq, f, missing, phased = marker_parameters(rng, args.markers)
    is_x = np.array([c == "X" for c in chroms])
    hemizygous = is_x & ~in_par
    # One X marker in ten outside the PARs carries heterozygous male calls.
    male_het_rate = np.where(hemizygous & (rng.random(args.markers) < 0.1), 0.002, 0.0)
    bases = np.array(list("ACGT"))
    ref = bases[rng.integers(0, 4, args.markers)]
    alt = bases[(np.searchsorted(bases, ref) + rng.integers(1, 4, args.markers)) % 4]
    names = ["rs%d" % (i + 1) for i in range(args.markers)]

    base = os.path.join(args.dir, "synth")
    with open(base + ".sex", "w") as sex:
        for i, sample in enumerate(ids):
            sex.write("%s\t%d\n" % (sample, 1 if male[i] else 2))
    with open(base + ".fam", "w") as fam:
        for i, sample in enumerate(ids):
            fam.write("%s %s 0 0 %d -9\n" % (sample, sample, 1 if male[i] else 2))
    # PLINK keeps a chromosome's markers together: the PAR markers (XY) follow X.
    plink_order = [i for i in range(args.markers) if not in_par[i]] + [i for i in range(args.markers) if in_par[i]]
    with open(base + ".bim", "w") as bim:
        for i in plink_order:
            chrom = "XY" if in_par[i] else chroms[i]
            bim.write("%s\t%s\t0\t%d\t%s\t%s\n" % (chrom, names[i], positions[i], alt[i], ref[i]))

    header = ["##fileformat=VCFv4.2", "##source=zygomet bench/make-genotype-files.py"]
    header += ["##contig=<ID=%s,length=%d>" % c for c in CONTIGS]
    header.append('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">')
    header.append("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO", "FORMAT"] + ids))
    vcf_path = base + ".vcf.gz"
    with open(vcf_path, "wb") as vcf_file, open(base + ".bed", "wb") as bed:
        bgzip = subprocess.Popen(["bgzip", "-@", "2", "-c"], stdin=subprocess.PIPE, stdout=vcf_file)
        bgzip.stdin.write(("\n".join(header) + "\n").encode())
        bed.write(bytes([0x6C, 0x1B, 0x01]))
        par_rows = []
        for start in range(0, args.markers, args.chunk):
            end = min(args.markers, start + args.chunk)
            sl = slice(start, end)
            codes = draw_chunk(rng, alt_freq[sl], f[sl], missing[sl], male, hemizygous[sl], male_het_rate[sl])
            fixed = [
                ("%s\t%d\t%s\t%s\t%s\t.\tPASS\t.\tGT\t" % (chroms[i], positions[i], names[i], ref[i], alt[i])).encode()
                for i in range(start, end)
            ]
            bgzip.stdin.write(vcf_rows(codes, phased[sl], fixed))
            rows = bed_rows(codes)
            width = len(rows) // (end - start)
            for i in range(start, end):
                row = rows[(i - start) * width : (i - start + 1) * width]
                if in_par[i]:
                    par_rows.append(row)
                else:
                    bed.write(row)
        bed.write(b"".join(par_rows))
        bgzip.stdin.close()
        if bgzip.wait() != 0:
            sys.exit("make-genotype-files: bgzip failed")
    subprocess.run(["tabix", "-f", "-p", "vcf", vcf_path], check=True)
    if shutil.which("bcftools"):
        subprocess.run(["bcftools", "index", "-f", "--csi", vcf_path], check=True)
    print("wrote %s.{vcf.gz,bed,bim,fam,sex}: %d markers x %d people" % (base, args.markers, n))


if __name__ == "__main__":
    main()

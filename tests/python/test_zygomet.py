"""The Python module against the command lines: the same numbers to the last
bit, and the input rules of its arrays and studies."""

import csv
import doctest
import io
import math
import os
import subprocess
from fractions import Fraction

import numpy as np
import pytest

import zygomet

ZYGOMET_TEST = os.environ.get("ZYGOMET_TEST", "zygomet-test")
ZYGOMET_POWER = os.environ.get("ZYGOMET_POWER", "zygomet-power")


def cli_rows(program, args, stdin=None):
    done = subprocess.run([program] + args, input=stdin, capture_output=True, text=True,
                          check=True)
    return list(csv.DictReader(io.StringIO(done.stdout)))


def assert_same_field(value, field, where):
    """A value equals the CLI's CSV field: NaN for an empty field, else the
    same double, so that repr prints the same shortest text."""
    if field == "":
        assert isinstance(value, float) and math.isnan(value), where
    elif isinstance(value, str):
        assert value == field, where
    else:
        assert repr(float(value)) == repr(float(field)), where


def random_counts(count, seed):
    rng = np.random.default_rng(seed)
    n = rng.integers(1, 3000, count)
    n[: count // 10] = rng.integers(1, 6, count // 10)  # tiny samples, many monomorphic
    p = rng.uniform(0.0, 1.0, count)
    aa = rng.binomial(n, p * p)
    ab = rng.binomial(n - aa, np.clip(2 * p * (1 - p) / np.maximum(1 - p * p, 1e-12), 0, 1))
    return aa, ab, n - aa - ab


def test_p_values_equal_the_command_line_to_the_last_bit():
    aa, ab, bb = random_counts(400, 7)
    aa[0], ab[0], bb[0] = 1_000_000, 2_000, 3  # far tail
    text = "".join("%d %d %d\n" % s for s in zip(aa, ab, bb))
    rows = cli_rows(ZYGOMET_TEST, ["--file", "-", "--csv", "-"], stdin=text)
    result = zygomet.test(aa, ab, bb)
    assert len(rows) == len(aa)
    for column, values in result.items():
        for i, row in enumerate(rows):
            assert_same_field(values[i].item(), row[column], (column, i))


STUDIES = [
    # (function, arguments, command-line arguments)
    (zygomet.power, dict(p=[0.3, 0.5], n=[100, 257], tests="exact,x2,g,exact-midp", levels=0.05),
     "--p 0.3,0.5 --n 100,257 --test exact,x2,g,exact-midp --level 0.05"),
    (zygomet.power, dict(model="inbreeding", p=0.2, f=[-0.1, 0.05], n=400, tests=["x2cc"],
                         levels=[0.05, 1e-6]),
     "--model inbreeding --p 0.2 --f -0.1,0.05 --n 400 --test x2cc --level 0.05,1e-6"),
    (zygomet.power, dict(model="error", p=0.4, het_miscall=0.02, hom_miscall=0.01, n=300,
                         allele_count=[200, 240], tests="exact-deficit"),
     "--model error --p 0.4 --het-miscall 0.02 --hom-miscall 0.01 --n 300 "
     "--allele-count 200,240 --test exact-deficit"),
    (zygomet.power, dict(model="selection", p=0.3, w11=0.9, n=50, method="simulate", nrep=300,
                         seed=11),
     "--model selection --p 0.3 --w11 0.9 --n 50 --method simulate --nrep 300 --seed 11"),
    (zygomet.solve_n, dict(model="inbreeding", p=0.3, f=0.05, tests="exact", levels=0.05),
     "--model inbreeding --p 0.3 --f 0.05 --solve n --test exact --level 0.05"),
    (zygomet.solve_n, dict(model="null", p=0.5, null=0.1, n=[10, 60], tests="exact", levels=0.05,
                           target=0.9),
     "--model null --p 0.5 --null 0.1 --n 10,60 --solve n --test exact --level 0.05 "
     "--target 0.9"),
    (zygomet.solve, dict(parameter="f", p=0.3, n=[500, 1000], tests="exact,x2", levels=0.05),
     "--model inbreeding --p 0.3 --f 0 --n 500,1000 --solve f --test exact,x2 --level 0.05"),
    # X-linked studies: the females' model, the male share and allele frequency.
    (zygomet.power, dict(model="inbreeding", locus="x", p=0.3, f=0.05, p_male=[0.3, 0.35],
                         n=2000, tests="x-exact,x-g,exact", levels=0.05),
     "--locus x --model inbreeding --p 0.3 --f 0.05 --p-male 0.3,0.35 --n 2000 "
     "--test x-exact,x-g,exact --level 0.05"),
    (zygomet.solve_n, dict(locus="x", males=0.3, p=0.3, p_male=0.4, tests="x-x2", levels=0.05,
                           n=[10, 5000]),
     "--locus x --males 0.3 --p 0.3 --p-male 0.4 --solve n --n 10,5000 --test x-x2 --level 0.05"),
    (zygomet.solve, dict(parameter="p_male", locus="x", p=0.3, n=1000, tests="x-x2", levels=0.05),
     "--locus x --p 0.3 --n 1000 --solve p-male --test x-x2 --level 0.05"),
    # The command line's word names the parameter too.
    (zygomet.solve, dict(parameter="het-miscall", p=0.4, n=500, tests="exact", levels=0.05),
     "--model error --p 0.4 --het-miscall 0 --n 500 --solve het-miscall --test exact "
     "--level 0.05"),
]


@pytest.mark.parametrize("function,arguments,cli", STUDIES)
@pytest.mark.parametrize("with_pandas", [True, False])
def test_studies_equal_the_command_line(function, arguments, cli, with_pandas, monkeypatch):
    if not with_pandas:
        monkeypatch.setattr(zygomet, "_pandas", lambda: None)
    table = function(**arguments)
    rows = cli_rows(ZYGOMET_POWER, cli.split() + ["--csv", "-"])
    columns = list(table.keys())
    assert columns == list(rows[0].keys())
    for column in columns:
        values = list(table[column])
        assert len(values) == len(rows)
        for i, row in enumerate(rows):
            value = values[i]
            value = value if isinstance(value, str) else float(value)
            assert_same_field(value, row[column], (column, i))


def test_broadcasting_gives_each_sample_its_own_call():
    aa = np.array([[5], [30], [0]])
    ab = np.array([10, 40, 3, 0])
    result = zygomet.test(aa, ab, 20, tests="exact,g")
    assert result["p_exact"].shape == (3, 4)
    for i in range(3):
        for j in range(4):
            one = zygomet.test(aa[i, 0], ab[j], 20, tests="exact,g")
            for column in result:
                assert repr(result[column][i, j]) == repr(one[column][()])
    assert zygomet.test(5, 10, 20)["p_exact"].shape == ()


@pytest.mark.parametrize("dtype", [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16,
                                   np.uint32, np.uint64, np.float32, np.float64])
def test_every_integer_dtype_and_whole_floats_give_the_same_values(dtype):
    expected = zygomet.test([21, 0, 0], [61, 0, 0], [18, 9, 0], tests="exact-midp,x2")
    got = zygomet.test(np.array([21, 0, 0], dtype=dtype), np.array([61, 0, 0], dtype=dtype),
                       np.array([18, 9, 0], dtype=dtype), tests="exact-midp,x2")
    for column in expected:
        np.testing.assert_array_equal(got[column], expected[column])
    # The last two samples cannot be tested: one allele absent, no genotypes.
    assert np.isnan(got["p_exact_midp"][1:]).all() and got["n"][2] == 0


@pytest.mark.parametrize("aa,ab,bb,words", [
    ([1, -2], 3, 4, "aa holds a negative count (-2)"),
    (1, np.array([3], dtype=np.int8) - 5, 4, "ab holds a negative count"),
    (1, 3, [4.0, float("nan")], "bb holds NaN"),
    (1, 3, [4.5], "bb holds 4.5"),
    (1, 3, [float("inf")], "bb holds inf"),
    (2_000_000_000, 3, 4, "aa holds 2000000000"),
    (np.uint64(2**64 - 1), 3, 4, "aa holds"),
    ([True], 3, 4, "aa must hold whole numbers"),
    (["3"], 3, 4, "aa must hold whole numbers"),
    ([1, 2, 3], [1, 2], [1, 2, 3], "ab has shape (2,)"),
    (np.zeros((2, 3)), np.zeros((2, 3)), np.zeros(4), "bb has shape (4,)"),
])
def test_bad_counts_raise_value_error_naming_the_argument(aa, ab, bb, words):
    with pytest.raises(ValueError) as error:
        zygomet.test(aa, ab, bb)
    assert words in str(error.value)


def test_empty_arrays_give_empty_columns_and_bad_tests_are_refused():
    result = zygomet.test(np.array([], dtype=np.int32), [], np.zeros((0,)), tests="exact")
    assert list(result) == ["n", "p", "F", "p_exact"]
    assert all(v.shape == (0,) and v.dtype == np.float64 for v in result.values())
    for tests, words in [("exact,nope", "unknown test \"nope\""), ("x2,x2", "named twice"),
                         ([3], "by name")]:
        with pytest.raises(ValueError, match=words):
            zygomet.test(1, 2, 3, tests=tests)


@pytest.mark.parametrize("arguments,words", [
    (dict(p=1.5, n=10), "p must lie from 0.01 to 0.99 (not 1.5)"),
    (dict(p=float("nan"), n=10), "(not NaN)"),
    (dict(p=0.3, n=[10, -1]), "sample sizes must lie from 1 to 1000000 (not -1)"),
    (dict(p=0.3, n=2.5), "sample sizes are whole numbers (not 2.5)"),
    (dict(p=0.3, n=0), "(not 0)"),
    (dict(p=0.3, n=10, levels=0.7), "levels must lie above 0 and at most 0.5"),
    (dict(model="inbreeding", p=0.3, f=-0.9, n=10), "f must lie from -0.4285714285714286 to 1 at p 0.3 (not -0.9)"),
    (dict(model="wahlund", p=0.3, n=10), "the model wahlund needs var"),
    (dict(p=0.3, n=10, f=0.1), "f is not a parameter of the model hw"),
    (dict(p=0.3, n=10, tests="nope"), "unknown test"),
    (dict(p=0.3, n=10, tests=[]), "no value is given for tests"),
    (dict(p=0.3, n=10, nope=1), "unknown parameter \"nope\""),
    (dict(p=0.3, n=10, p_male=0.4), "p_male has a meaning on X-linked loci only"),
    (dict(p=0.3, n=10, males=0.4), "males has a meaning on X-linked loci only"),
    (dict(locus="x", p=0.3, n=10, males=1.5), "the share of males must lie from 0 to 1 (not 1.5)"),
    (dict(locus="x", model="selection", p=0.3, n=10, w11=0.5), "has no X-linked form"),
    (dict(p=0.3, n=10, tests="x-exact"), "the test x-exact does not apply to this locus"),
    (dict(p=0.3, n=10, nrep=100), "nrep has a meaning for the simulate method only"),
    (dict(p=0.3, n=20000, method="simulate"), "from 1 to 10000"),
    (dict(model="selection", p=0.3, w11=0, w12=0, w22=0, n=10), "must not all be 0"),
    (dict(p=0.3, n=10, allele_count=30), "allele counts must lie from 0 to 20 at n 10 (not 30)"),
    (dict(p="0.3", n=10), "p takes numbers"),
    (dict(model="nope", p=0.3, n=10), "unknown model"),
    (dict(p=np.linspace(0.01, 0.99, 100), n=range(1000, 10**6, 1000)), "units of work"),
])
def test_bad_studies_raise_value_error_in_neutral_words(arguments, words):
    with pytest.raises(ValueError) as error:
        zygomet.power(**arguments)
    assert words in str(error.value)
    assert "--" not in str(error.value)


def test_solving_refuses_what_it_cannot_do():
    for call, words in [
        (lambda: zygomet.solve_n(p=0.3, method="simulate"), "exact method only"),
        (lambda: zygomet.solve("p", p=0.3, n=100), "cannot solve for \"p\""),
        (lambda: zygomet.solve("f", model="hw", p=0.3, n=100), "f is not a parameter"),
        (lambda: zygomet.solve_n(p=0.3, allele_count=3), "no meaning when solving"),
        (lambda: zygomet.solve_n(p=0.3, target=1.5), "the target power must lie above 0"),
    ]:
        with pytest.raises(ValueError, match=words):
            call()


def x_enumeration(aa, ab, bb, a, b):
    """x-exact and its mid-p by enumerating every outcome given the allele
    count, in exact fractions (ties within a relative 1e-7), and X2 and G
    over the five classes with their 2-df tails."""
    nf, nm = aa + ab + bb, a + b
    n_a, nt = a + 2 * aa + ab, nm + 2 * nf
    weights = {}
    for m in range(max(0, n_a - 2 * nf), min(nm, n_a) + 1):
        female_a = n_a - m
        for het in range(female_a % 2, min(female_a, 2 * nf - female_a) + 1, 2):
            hom_a = (female_a - het) // 2
            hom_b = nf - hom_a - het
            weights[(m, hom_a, het)] = Fraction(
                math.comb(nm, m) * math.factorial(nf) * 2**het,
                math.factorial(hom_a) * math.factorial(het) * math.factorial(hom_b))
    observed = weights[(a, aa, ab)]
    total = sum(weights.values())
    tied = sum(w for w in weights.values() if abs(w - observed) <= observed * Fraction(1, 10**7))
    less = sum(w for w in weights.values() if w < observed * (1 - Fraction(1, 10**7)))
    p = n_a / nt
    cells = [(a, nm * p), (b, nm * (1 - p)), (aa, nf * p * p), (ab, 2 * nf * p * (1 - p)),
             (bb, nf * (1 - p) ** 2)]
    x2 = sum((o - e) ** 2 / e for o, e in cells if e > 0)
    g = 2 * sum(o * math.log(o / e) for o, e in cells if o > 0)
    return {"p_x_exact": float((less + tied) / total), "p_x_exact_midp": float((less + tied / 2) / total),
            "x_x2": x2, "p_x_x2": math.exp(-x2 / 2), "x_g": g, "p_x_g": math.exp(-g / 2)}


def test_x_linked_samples_against_an_enumeration_of_their_outcomes():
    rng = np.random.default_rng(11)
    samples = [(3, 4, 3, 5, 5), (0, 0, 0, 4, 2), (5, 0, 5, 0, 0), (2, 6, 2, 0, 10), (1, 2, 1, 2, 2)]
    samples += [tuple(int(v) for v in rng.integers(0, 9, 5)) for _ in range(30)]
    got = zygomet.test(*([s[i] for s in samples] for i in range(3)),
                       a=[s[3] for s in samples], b=[s[4] for s in samples])
    text = "".join("%d %d %d %d %d\n" % s for s in samples)
    rows = cli_rows(ZYGOMET_TEST, ["--file", "-", "--csv", "-"], stdin=text)
    assert list(got) == [c for c in rows[0] if c not in ("marker", "AA", "AB", "BB", "A", "B")]
    for column, values in got.items():
        for i, row in enumerate(rows):
            assert_same_field(values[i].item(), row[column], (column, i))
    for i, (aa, ab, bb, a, b) in enumerate(samples):
        n_a, nt = a + 2 * aa + ab, a + b + 2 * (aa + ab + bb)
        if nt == 0 or n_a in (0, nt):  # no one, or one allele only: not testable
            assert all(math.isnan(got[k][i]) for k in ("p_x_exact", "p_x_x2")), samples[i]
            continue
        for key, value in x_enumeration(aa, ab, bb, a, b).items():
            assert got[key][i] == pytest.approx(value, rel=1e-10, abs=1e-300), (samples[i], key)
        assert got["p_x_exact_midp"][i] < got["p_x_exact"][i]
        females = zygomet.test(aa, ab, bb)
        for key in ("p_exact", "p_x2", "F"):  # the autosomal tests on the females alone
            np.testing.assert_array_equal(got[key + "_females" if key != "F" else "F_female"][i],
                                          females[key])
    with pytest.raises(ValueError, match="given together"):
        zygomet.test(1, 2, 3, a=4)
    with pytest.raises(ValueError, match="b holds a negative count"):
        zygomet.test(1, 2, 3, a=4, b=[1, -1])
    with pytest.raises(ValueError, match="b has shape"):
        zygomet.test([1, 2], 2, 3, a=[4, 4], b=[1, 1, 1])
    with pytest.raises(ValueError, match="counts the males"):
        zygomet.test(1, 2, 3, tests="x-exact")


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_a_dask_cluster_of_worker_processes_gives_the_p_values_of_one_call():
    dask_array = pytest.importorskip("dask.array")
    distributed = pytest.importorskip("distributed")
    aa, ab, bb = random_counts(2000, 3)
    tests = ["exact", "exact-midp", "x2"]
    keys = ["p_exact", "p_exact_midp", "p_x2"]

    def p_values(block):
        r = zygomet.test(block[0], block[1], block[2], tests=tests, threads=1)
        return np.stack([r[k] for k in keys])

    counts = dask_array.from_array(np.stack([aa, ab, bb]), chunks=(3, 300))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None,
                                  worker_dashboard_address=None) as cluster, \
            distributed.Client(cluster, timeout=60) as client:
        lazy = counts.map_blocks(p_values, dtype=np.float64, chunks=(len(keys), 300))
        distributed_values = client.compute(lazy).result(timeout=120)
    one = zygomet.test(aa, ab, bb, tests=tests)
    np.testing.assert_array_equal(distributed_values, np.stack([one[k] for k in keys]))


def test_help_reads_like_the_manual_and_every_example_prints_what_it_shows():
    assert "DESCRIPTION" in zygomet.__doc__
    for name in zygomet.TESTS:
        assert name in zygomet.__doc__
    for function in (zygomet.test, zygomet.power, zygomet.solve_n, zygomet.solve):
        assert ">>> " in function.__doc__
    failed, tried = doctest.testmod(zygomet, extraglobs={"zygomet": zygomet})
    assert tried >= 10 and failed == 0

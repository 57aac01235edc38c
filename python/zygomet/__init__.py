"""zygomet - tests of Hardy-Weinberg proportions, their power and sample sizes

DESCRIPTION
    zygomet tests samples of genotype counts at one biallelic locus for
    Hardy-Weinberg proportions, and computes how often these tests reject
    when samples of n genotypes come from a population that follows a chosen
    model: the size of the tests, their power, and the sample size a study
    needs. It is the library of the zygomet-test and zygomet-power commands:
    the same numbers, computed by the same C++ engine, on numpy arrays.

FUNCTIONS
    test(aa, ab, bb, tests=None, a=None, b=None)
        The p-values of every sample of genotype counts AA, AB, BB, as a dict
        of numpy float64 arrays keyed like zygomet-test's CSV columns.

    power(model="hw", p=None, n=None, tests=("x2", "g"), levels=(0.05, 0.01),
          **parameters)
        The exact (or simulated) power at every point of a grid, one row per
        point, with the columns of zygomet-power's CSV.

    solve_n(model="hw", p=None, n=None, ..., target=0.8, **parameters)
        The smallest sample size whose exact power reaches the target.

    solve(parameter, model=..., p=None, n=None, ..., target=0.8, **parameters)
        The smallest departure in one model parameter whose exact power at n
        reaches the target.

    The tables are pandas DataFrames when pandas can be imported, and dicts
    of numpy arrays otherwise.

TESTS
    x2                  Pearson's X2 against the sample's own expectation, 1 df
    g                   the likelihood-ratio G = 2 sum o ln(o/e), 0 ln 0 = 0, 1 df
    x2cc                X2 with each term max(0, |o - e| - 0.5)^2 / e, 1 df
    exact               exact test: P(heterozygote counts no more probable)
    exact-midp          exact mid-p: P(less probable) + P(as probable) / 2
    exact-dost          doubled one-sided: min(1, 2 min(P(H <= h), P(H >= h)))
    exact-deficit       one-sided, heterozygote deficit: P(H <= h)
    exact-excess        one-sided, heterozygote excess: P(H >= h)
    exact-deficit-midp  P(H <= h) - P(H = h) / 2
    exact-excess-midp   P(H >= h) - P(H = h) / 2

    The exact tests condition on the allele count; counts whose
    probabilities differ by less than a relative 1e-7 are equally probable.
    Their p-values hold a relative accuracy of 1e-11 wherever they are at
    least 1e-300.

MODELS AND PARAMETERS
    hw          Hardy-Weinberg proportions at p (the size of the tests)
    wahlund     var: the variance of p among subpopulations, 0 to p*q
    inbreeding  f: the inbreeding coefficient, -min(p,q)/max(p,q) to 1
    selection   w11, w12, w22: fitnesses of A1A1, A1A2, A2A2, 0 to 10
    error       het_miscall, hom_miscall: genotyping-error rates, 0 to 1
    null        null: the frequency of a non-amplifying allele, 0 to 0.99

    Every parameter, p, n and levels take one number or a sequence of them;
    the study is the grid of all their values. p lies from 0.01 to 0.99, n
    from 1 to 1000000 (10000 when simulating), levels above 0 and at most
    0.5. allele_count gives power among the samples with exactly these
    copies of A1; method="simulate" draws nrep samples per point from seed.

ERRORS
    Bad input raises ValueError with a sentence that says what is allowed;
    an invalid argument never turns into NaN.

EXAMPLE
    >>> import zygomet
    >>> r = zygomet.test([21, 10], [61, 20], [18, 70], tests="exact,x2")
    >>> float(r["p_exact"][0]) < 0.05
    True
    >>> zygomet.solve_n("inbreeding", p=0.3, f=0.05, tests="exact",
    ...                 levels=0.05)["n"].tolist()
    [3224.0]
"""

import numbers

import numpy as np

from . import _zygomet

__all__ = ["test", "power", "solve_n", "solve", "TESTS", "X_TESTS"]

#: Every test of autosomal samples, in the order of zygomet-test's output.
TESTS = tuple(_zygomet.test_names())

#: Every test of X-linked samples: those that count the males, then the
#: autosomal tests applied to the females alone.
X_TESTS = tuple(_zygomet.x_test_names())

_MAX_COUNT = int(_zygomet.max_count)


def _test_list(tests):
    """The test names of a tests argument: a comma-separated text or a sequence."""
    if tests is None:
        return None
    if isinstance(tests, str):
        return [t.strip() for t in tests.split(",")]
    names = list(tests)
    for name in names:
        if not isinstance(name, str):
            raise ValueError("tests are given by name, such as \"exact\" (not %r)" % (name,))
    return names


def _counts(name, values):
    """The counts of one argument as a numpy array of uint64, checked."""
    try:
        array = np.asarray(values)
    except (ValueError, TypeError) as error:
        raise ValueError("%s must be an array of counts (%s)" % (name, error)) from None
    kind = array.dtype.kind
    if kind == "b" or kind not in "iuf":
        raise ValueError("%s must hold whole numbers of genotypes (not %s)" % (name, array.dtype))
    if array.size == 0:
        return array.astype(np.uint64)
    if kind == "f":
        if np.isnan(array).any():
            raise ValueError("%s holds NaN; counts are whole numbers from 0 to %d"
                             % (name, _MAX_COUNT))
        whole = np.floor(array) == array
        if not whole.all():
            value = array[~whole].flat[0]
            raise ValueError("%s holds %r; counts are whole numbers from 0 to %d"
                             % (name, float(value), _MAX_COUNT))
    if kind != "u" and (array < 0).any():
        raise ValueError("%s holds a negative count (%r); counts are whole numbers from 0 to %d"
                         % (name, array[array < 0].flat[0].item(), _MAX_COUNT))
    if (array > _MAX_COUNT).any():
        raise ValueError("%s holds %r; counts are whole numbers from 0 to %d"
                         % (name, array[array > _MAX_COUNT].flat[0].item(), _MAX_COUNT))
    return array.astype(np.uint64)


def _broadcast_shape(arrays, names=("aa", "ab", "bb")):
    """The shape the count arrays broadcast to; a ValueError names the one that does not fit."""
    try:
        return np.broadcast_shapes(*(a.shape for a in arrays))
    except ValueError:
        pass
    for i, name in enumerate(names):
        others = [a.shape for j, a in enumerate(arrays) if j != i]
        try:
            np.broadcast_shapes(*others)
        except ValueError:
            continue
        raise ValueError("%s has shape %s, which does not broadcast with the shape %s of the others"
                         % (name, arrays[i].shape, np.broadcast_shapes(*others)))
    raise ValueError("%s have shapes %s, which do not broadcast together"
                     % (", ".join(names), ", ".join(str(a.shape) for a in arrays)))


def test(aa, ab, bb, tests=None, a=None, b=None, *, threads=0):
    """The tests of Hardy-Weinberg proportions on samples of genotype counts.

    aa, ab, bb: the counts of A1A1, A1A2 and A2A2, as numbers, sequences or
    numpy arrays of any shapes that broadcast together (as numpy broadcasts).
    Any integer dtype (int8 to uint64) is accepted. A float array is
    accepted when every value is a whole number (1.0, 2e3): the rule is the
    value, never the dtype, and 2.5, NaN or infinity raise ValueError. Counts
    lie from 0 to 1000000000; a negative count raises ValueError naming its
    argument, and so does a shape that does not broadcast. Booleans and
    texts are refused.

    tests: the test names, as a sequence or one comma-separated text
    ("exact,exact-midp,x2"); None: every test zygomet-test offers, in the order of zygomet.TESTS.

    a, b: for X-linked samples, the counts of males carrying A1 and A2
    (hemizygotes), given together; aa, ab and bb are then the females'.
    They broadcast with the female counts. An X-linked sample takes the
    tests that count the males (x-exact, x-exact-midp, x-x2, x-g) and every
    autosomal test, which it applies to the females alone; None gives all
    of them, in the order of zygomet.X_TESTS. The columns are then nf, nm,
    p_female, p_male, p (over all alleles), F_female, then each test's
    statistic (x_x2, x_g, ...) and p-value (p_x_exact, ...), named as in
    zygomet-test's CSV: a test on the females alone ends in _females
    (p_exact_females, x2_females, ...). The X
    tests need both alleles among everyone, the tests on the females both
    alleles among the females; x-exact takes up to 5000000 alleles
    (nm + 2 nf) and gives NaN beyond. A male-counting test on a sample
    without a and b raises ValueError.

    threads: 0 (the default) computes large arrays on every core; 1 keeps
    the work on the calling thread (inside a Dask worker, for one).

    Returns a dict of numpy float64 arrays of the broadcast shape, keyed like
    zygomet-test's CSV columns: n, p (the frequency of A1), F (1 - observed /
    expected heterozygotes), then for each test in the order given its
    statistic (x2, g and x2cc only) and its p-value (p_x2, p_g, p_x2cc,
    p_exact, p_exact_midp, ...). A sample that cannot be tested (one allele
    absent, or no genotypes at all) has NaN there. The interpreter's lock is
    released while the samples are computed.

    Example:
    >>> r = zygomet.test(21, 61, 18, tests=["exact", "x2"])
    >>> sorted(r)
    ['F', 'n', 'p', 'p_exact', 'p_x2', 'x2']
    >>> print(r["p_exact"])
    0.044405733540873245
    >>> x = zygomet.test(30, 40, 30, tests="x-exact,exact", a=45, b=55)
    >>> print(x["nf"], x["nm"], x["p_x_exact"] < x["p_exact_females"])
    100.0 100.0 False
    """
    if (a is None) != (b is None):
        raise ValueError("a and b, the males' counts of A1 and A2, are given together")
    xlinked = a is not None
    names = _test_list(tests)
    if names is None:
        names = list(X_TESTS if xlinked else TESTS)
    argument_names = ("aa", "ab", "bb", "a", "b") if xlinked else ("aa", "ab", "bb")
    given = (aa, ab, bb, a, b) if xlinked else (aa, ab, bb)
    columns = (_zygomet.x_column_names if xlinked else _zygomet.column_names)(names)
    arrays = [_counts(name, values) for name, values in zip(argument_names, given)]
    shape = _broadcast_shape(arrays, argument_names)
    flat = [np.ascontiguousarray(np.broadcast_to(x, shape)).reshape(-1) for x in arrays]
    if not isinstance(threads, numbers.Integral) or threads < 0:
        raise ValueError("threads is a whole number, 0 for every core (not %r)" % (threads,))
    if xlinked:
        values = _zygomet.test_x_counts(*flat, names, int(threads))
    else:
        values = _zygomet.test_counts(*flat, names, int(threads))
    return {name: column.reshape(shape) for name, column in zip(columns, values)}


def _pandas():
    """pandas when it can be imported, else None."""
    try:
        import pandas
    except ImportError:
        return None
    return pandas


def _values(name, values):
    """One parameter's values as a list of floats."""
    if isinstance(values, str):
        raise ValueError("%s takes numbers (not the text %r)" % (name, values))
    try:
        array = np.asarray(values, dtype=np.float64).reshape(-1)
    except (ValueError, TypeError):
        raise ValueError("%s takes a number or a sequence of numbers (not %r)"
                         % (name, values)) from None
    return array.tolist()


def _table(text):
    columns = _zygomet.csv_columns(text)
    pandas = _pandas()
    if pandas is None:
        return {name: (values if isinstance(values, np.ndarray) else np.array(values, dtype=object))
                for name, values in columns}
    return pandas.DataFrame({name: values for name, values in columns},
                            columns=[name for name, _ in columns])


_OPTIONS = ("method", "nrep", "seed", "target", "locus", "males")


def _study(model, p, n, tests, levels, parameters, solve=""):
    if not isinstance(model, str):
        raise ValueError("the model is given by name, such as \"inbreeding\" (not %r)" % (model,))
    values = {}
    if p is not None:
        values["p"] = _values("p", p)
    if n is not None:
        values["n"] = _values("n", n)
    if levels is not None:
        values["levels"] = _values("levels", levels)
    options = {key: parameters.pop(key) for key in _OPTIONS if key in parameters}
    for name, given in parameters.items():
        values[name] = _values(name, given)
    method = options.get("method", "exact")
    if not isinstance(method, str):
        raise ValueError("the method is \"exact\" or \"simulate\" (not %r)" % (method,))
    locus = options.get("locus", "autosomal")
    if not isinstance(locus, str):
        raise ValueError("the locus is \"autosomal\" or \"x\" (not %r)" % (locus,))
    scalars = {}
    for key in ("nrep", "seed", "target", "males"):
        given = options.get(key)
        if given is None:
            scalars[key] = None
            continue
        if isinstance(given, (str, bytes)) or np.ndim(given) != 0:
            raise ValueError("%s takes one number (not %r)" % (key, given))
        scalars[key] = float(given)
    text = _zygomet.study_csv(model, values, _test_list(tests), method, scalars["nrep"],
                              scalars["seed"], scalars["target"], solve, locus,
                              scalars["males"])
    return _table(text)


def power(model="hw", p=None, n=None, tests=("x2", "g"), levels=(0.05, 0.01), **parameters):
    """The power of tests of Hardy-Weinberg proportions over a grid of studies.

    model: "hw" (the default), "wahlund", "inbreeding", "selection", "error"
    or "null". p and n (required), levels (default 0.05 and 0.01) and the
    model's parameters (var, f, w11, w12, w22, het_miscall, hom_miscall,
    null) each take one number or a sequence; the grid is every combination,
    with a value given twice computed once. tests: names, as for test()
    (default x2 and g). Further keywords: allele_count (power among the
    samples with exactly these copies of A1), target (one power: the CSV's
    rows are unchanged), method ("exact", the default, or "simulate") with
    nrep (default 10000) and seed (default: the clock).

    locus="x" makes the study X-linked: the model (hw, inbreeding or error)
    is the females', males (one number, default 0.5) is the share of the n
    people who are male (nm = n x males rounded, nf = n - nm), and p_male
    (default: equal to p) the males' allele frequency, a list like the
    others. Its tests are x-exact, x-exact-midp, x-x2, x-g and the
    autosomal tests on the females alone.

    Returns a pandas DataFrame (a dict of numpy arrays without pandas) with
    the columns of zygomet-power's CSV, one row per point: model, p, var, f,
    w11, w12, w22, n, test, level, method, testable, power,
    conditional_power, se, low95, high95, nrep, seed, mass_left_out,
    allele_count, ... NaN where a row has no value. The numbers are those of
    zygomet-power --csv, to the last bit.

    Bad input raises ValueError saying what is allowed.

    Example:
    >>> t = zygomet.power("inbreeding", p=0.3, f=0.05, n=[1000, 3224],
    ...                   tests="exact", levels=0.05)
    >>> t[["n", "power"]].round(4).values.tolist()
    [[1000.0, 0.3384], [3224.0, 0.8002]]
    """
    return _study(model, p, n, tests, levels, dict(parameters))


def solve_n(model="hw", p=None, n=None, tests=("x2", "g"), levels=(0.05, 0.01), target=0.8,
            **parameters):
    """The smallest sample size whose exact power reaches a target.

    The arguments are those of power(); n, when given, bounds the search by
    its smallest and largest value (one value: from 1 to it; default 1 to
    1000000), and target is the power to reach (default 0.8). Power is
    saw-toothed in n for these discrete tests, so the answer also says from
    which n power stays at or above the target.

    Returns one row per model setting, test and level, with the columns of
    power() plus stays_n: n is the smallest n that reaches the target and
    power the power there; both are NaN when no n within the bounds does.

    Example: n for 80% power against f 0.05 at p 0.3, exact test, 5%.
    >>> t = zygomet.solve_n("inbreeding", p=0.3, f=0.05, tests="exact",
    ...                     levels=0.05)
    >>> t[["n", "power", "stays_n"]].values.tolist()
    [[3224.0, 0.800234162243152, 3224.0]]
    """
    parameters["target"] = target
    return _study(model, p, n, tests, levels, parameters, solve="n")


def solve(parameter, model=None, p=None, n=None, tests=("x2", "g"), levels=(0.05, 0.01),
          target=0.8, **parameters):
    """The smallest departure in one model parameter whose exact power reaches a target.

    parameter: "var", "f", "w11", "w12", "w22", "het_miscall",
    "hom_miscall" or "null"; model defaults to the model that reads it. At each n, each value of the parameter gives the
    side to search (above or below its value without a departure); the
    answer is the value nearest to no departure, to 4 significant digits,
    whose power reaches the target (default 0.8). Other arguments as for
    power().

    Returns one row per model setting, n, test and level with the columns
    of power() plus monotone ("yes" or "no": whether power fell anywhere on
    the way); the parameter's column holds the answer, NaN when the target
    is not reached.

    Example:
    >>> t = zygomet.solve("f", p=0.3, n=3224, tests="exact", levels=0.05)
    >>> t[["f", "power"]].round(4).values.tolist()
    [[0.05, 0.8001]]
    """
    if not isinstance(parameter, str):
        raise ValueError("the parameter is given by name, such as \"f\" (not %r)" % (parameter,))
    solvable = _zygomet.solvable_parameters()
    # The command line's word for a parameter ("het-miscall") names it too.
    parameter = parameter.replace("-", "_")
    if model is None:
        model = (solvable[parameter][0] if parameter in solvable else "") or "hw"
    parameters["target"] = target
    if parameter in solvable and parameter not in parameters and solvable[parameter][1] is not None:
        # Without a value the search starts at no departure and goes upwards.
        parameters[parameter] = solvable[parameter][1]
    return _study(model, p, n, tests, levels, parameters, solve=parameter)

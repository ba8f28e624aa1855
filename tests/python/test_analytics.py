"""batch_stats, compute_risk_batch, validate_ids_batch and validate_names_batch."""

import dataclasses
import decimal
import inspect
import json
import math
import os
import re
import statistics
import struct
import subprocess
import sys
import threading
import unicodedata

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import zembra_core
from leakcheck import assert_no_leak
from zembra_core import batch_stats, compute_risk_batch, validate_ids_batch, validate_names_batch

D = decimal.Decimal
INF = float("inf")
NAN = float("nan")
EPS = sys.float_info.epsilon


def bits(x):
    """Exact identity of a float; every NaN is one class (its sign is not defined)."""
    return "nan" if x != x else struct.pack("<d", x)


@dataclasses.dataclass
class FloatLike:
    v: object

    def __float__(self):
        return self.v


@dataclasses.dataclass
class IndexLike:
    v: object

    def __index__(self):
        return self.v


class Hooked(dict):
    """Lookups through the subclass's hooks would see different values."""

    def __getitem__(self, key):
        return 1.0

    def __missing__(self, key):
        return 1.0

    def get(self, key, default=None):
        return 1.0


# ---- common argument handling ---------------------------------------------------------------

ENTRY_POINTS = [(batch_stats, "values", [1.0]), (compute_risk_batch, "records", [{}]),
                (validate_ids_batch, "ids", ["12345678-1234"]), (validate_names_batch, "names", ["John Smith"])]


@pytest.mark.parametrize("fn,param,sample", ENTRY_POINTS)
def test_argument_binding(fn, param, sample):
    assert fn(**{param: sample}) == fn(sample) == fn(type("Sub", (list,), {})(sample))
    assert str(inspect.signature(fn)) == f"({param})"
    for bad in [tuple(sample), None, iter(sample), {0: sample[0]}]:
        with pytest.raises(TypeError) as info:
            fn(bad)
        assert info.value.__notes__ == [f"while processing '{param}'"]
        what = "'None' is" if bad is None else f"'{type(bad).__qualname__}' object is"
        assert str(info.value) == f"{what} not an instance of 'list'"


@pytest.mark.parametrize("fn,expected", [(batch_stats, {"count": 0}), (compute_risk_batch, []),
                                         (validate_ids_batch, []), (validate_names_batch, [])])
def test_empty_inputs(fn, expected):
    assert fn([]) == expected


# ---- batch_stats ----------------------------------------------------------------------------

def stats(values):
    out = batch_stats(values)
    assert list(out) == ["mean", "median", "stdev", "min", "max", "count"]
    return out


@pytest.mark.parametrize("values,expected", [
    ([5], (5.0, 5.0, 0.0, 5.0, 5.0, 1)),
    ([1, 2, 3, 4], (2.5, 2.5, math.sqrt(1.25), 1.0, 4.0, 4)),
    ([3, 1, 2], (2.0, 2.0, math.sqrt(2 / 3), 1.0, 3.0, 3)),
    ([True, False, FloatLike(2.0), IndexLike(3), D("4")], (2.0, 2.0, math.sqrt(2.0), 0.0, 4.0, 5)),
    ([1e308, 1e308], (INF, INF, 0.0, 1e308, 1e308, 2)),
    ([NAN], (NAN, NAN, 0.0, INF, -INF, 1)),
    ([1.0, NAN, 2.0], (NAN, 2.0, 0.0, 1.0, 2.0, 3)),
    ([NAN, 1.0], (NAN, NAN, 0.0, 1.0, 1.0, 2)),
    ([NAN, 3.0, NAN, 1.0, 2.0], (NAN, 3.0, 0.0, 1.0, 3.0, 5)),
    ([INF, -INF], (NAN, NAN, 0.0, -INF, INF, 2)),
    ([INF, 1.0, 2.0], (INF, 2.0, 0.0, 1.0, INF, 3)),
    ([0.0, -0.0], (0.0, 0.0, 0.0, -0.0, 0.0, 2)),
    # The middle element of a stable sort: equal zeros keep their input order.
    ([0.0] * 13 + [-0.0, -1.0], (-1 / 15, 0.0, math.sqrt(14) / 15, -1.0, 0.0, 15)),
    ([0.0, -0.0, 0.0], (0.0, -0.0, 0.0, -0.0, 0.0, 3)),
    ([1.0, 0.0, -0.0, -0.0, -1.0, 0.0], (0.0, -0.0, math.sqrt(1 / 3), -1.0, 1.0, 6)),
])
def test_stats_examples(values, expected):
    out = stats(values)
    got = (out["mean"], out["median"], out["stdev"], out["min"], out["max"], out["count"])
    assert [bits(x) for x in got[:5]] == [bits(float(x)) for x in expected[:5]] and got[5] == expected[5]
    assert type(got[5]) is int and all(type(x) is float for x in got[:5])


def check_against_statistics(values, stdev_abs_tol=0.0):
    floats = [float(v) for v in values]
    out = stats(values)
    n, top = len(floats), max(abs(x) for x in floats)
    # A left-to-right or pairwise sum is off by at most about n ulps of the largest value.
    assert math.isclose(out["mean"], statistics.fmean(floats), rel_tol=1e-9, abs_tol=2 * n * EPS * top)
    assert bits(out["median"]) == bits(float(statistics.median(floats)))
    assert math.isclose(out["stdev"], statistics.pstdev(floats), rel_tol=1e-9, abs_tol=stdev_abs_tol)
    assert (out["min"], out["max"], out["count"]) == (min(floats), max(floats), n)


@settings(max_examples=150, deadline=None)
@given(st.lists(st.one_of(st.floats(min_value=-1e150, max_value=1e150), st.integers(-2**53, 2**53),
                          st.booleans(), st.sampled_from([0.0, -0.0])), min_size=1, max_size=300))
def test_stats_match_the_statistics_module(values):
    # The error of the mean alone bounds the error of a deviation-based stdev
    # (a sum-of-squares formula is off by the square root of that much);
    # squares of deviations below 1e-154 underflow.
    top = max(abs(float(v)) for v in values)
    check_against_statistics(values, stdev_abs_tol=4 * len(values) * EPS * top + 1e-150)


@settings(max_examples=60, deadline=None)
@given(center=st.sampled_from([0.0, 1e9, -1e9, 1.7e12, 3.3e15]), spread_exp=st.integers(-5, 0),
       units=st.lists(st.integers(-10**6, 10**6), min_size=2, max_size=3000))
def test_stdev_far_from_zero(center, spread_exp, units):
    # Data whose spread is small next to its distance from zero: squares of
    # the values lose the deviations, deviations from the mean do not.
    spread = max(abs(center), 1.0) * 10.0 ** spread_exp
    values = [center + spread * (u / 1e6) for u in units]
    assume(statistics.pstdev(values) >= spread * 1e-2)
    check_against_statistics(values)


def test_stdev_of_a_large_list_far_from_zero():
    import random
    rng = random.Random(7)
    values = [1.7e12 + rng.uniform(-5e5, 5e5) for _ in range(200_001)]
    out = stats(values)
    assert math.isclose(out["stdev"], statistics.pstdev(values), rel_tol=1e-9)
    assert math.isclose(out["mean"], statistics.fmean(values), rel_tol=1e-12)
    assert out["median"] == statistics.median(values)


@dataclasses.dataclass
class Resizing:
    """Cuts the list it sits in to ``keep`` items, or grows it, when converted."""
    data: list
    keep: int

    def __float__(self):
        del self.data[self.keep:]
        self.data.extend([100.0] * (self.keep - len(self.data)))
        return 1.0


@pytest.mark.parametrize("build,count", [
    (lambda d: [Resizing(d, 0), 2.0, 3.0], 1),
    (lambda d: [4.0, Resizing(d, 1), 2.0, 3.0], 2),
    (lambda d: [4.0, Resizing(d, 3), 2.0, 3.0], 3),
    (lambda d: [Resizing(d, 8), 2.0], 2),
])
def test_stats_list_changed_by_a_conversion_hook(build, count):
    data = []
    data.extend(build(data))
    assert stats(data)["count"] == count


@pytest.mark.parametrize("item,error,message", [
    ("1", TypeError, "must be real number, not str"),
    (None, TypeError, "must be real number, not NoneType"),
    (10**400, OverflowError, "int too large to convert to float"),
    (FloatLike("x"), TypeError, None),
    (IndexLike(10**400), OverflowError, None),
    (D("sNaN"), ValueError, None),
])
def test_stats_wrong_item_raises_the_conversion_error(item, error, message):
    with pytest.raises(error) as info:
        batch_stats([1.0, item, 2.0])
    assert getattr(info.value, "__notes__", None) is None
    if message:
        assert str(info.value) == message


# ---- compute_risk_batch ---------------------------------------------------------------------

DEFAULTS = {"credit_score": 500.0, "debt_to_income_ratio": 0.3, "loan_amount": 100000.0, "age": 30.0,
            "interest_rate": 5.0}
LITERAL = re.compile(r"[+-]?(?:inf|infinity|nan|(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:e[+-]?[0-9]+)?)",
                     re.IGNORECASE | re.ASCII)


def c_log(x):
    # math.log raises where the C library answers.
    if x != x:
        return x
    if x == 0.0:
        return -INF
    if x < 0.0:
        return NAN
    return math.log(x)


def reference_score(c, d, L, a, i):
    base = (100.0 - c / 10.0) + 50.0 * d
    reduction = 5.0 if a >= 25.0 else 0.0
    t = (2.0 * c_log(L + 1.0) + base) - reduction
    t = 0.5 * i + t
    q = c - 300.0
    if not q > 0.0:
        q = 0.0
    t = t - 0.3 * math.sqrt(q)
    if t < 0.0:
        return 0.0
    if t > 100.0:
        return 100.0
    return t


def as_real(v):
    if isinstance(v, (str, bytes)) or v is None:
        raise TypeError(v)
    return float(v)


def loan_amount_of(v):
    try:
        return as_real(v)
    except Exception:
        text = str(v)
        return float(text) if LITERAL.fullmatch(text) else 100000.0


def reference_record(record):
    """Reads the dict's own storage: a subclass's lookup hooks are never used."""
    inputs = []
    for key, default in DEFAULTS.items():
        if not dict.__contains__(record, key):
            inputs.append(default)
        elif key == "loan_amount":
            inputs.append(loan_amount_of(dict.get(record, key)))
        else:
            inputs.append(as_real(dict.get(record, key)))
    return reference_score(*inputs)


def assert_scores(records):
    got = compute_risk_batch(records)
    assert type(got) is list and all(type(x) is float for x in got)
    assert [bits(x) for x in got] == [bits(reference_record(r)) for r in records]


@pytest.mark.parametrize("record,about", [
    ({}, 81.2833),
    ({"credit_score": 850, "debt_to_income_ratio": 0.1, "loan_amount": 0, "age": 40, "interest_rate": 3}, 9.4644),
    ({"credit_score": 300, "debt_to_income_ratio": 2}, 100.0),
    ({"age": 24.9}, 86.2833), ({"age": 25}, 81.2833), ({"age": NAN}, 86.2833),
    ({"loan_amount": -1.0}, 0.0), ({"loan_amount": -1.5}, NAN), ({"credit_score": INF}, 0.0),
])
def test_risk_examples(record, about):
    [got] = compute_risk_batch([record])
    assert bits(got) == bits(reference_record(record))
    assert got == pytest.approx(about, abs=1e-4, nan_ok=True)


class ValueErrorFloat:
    def __float__(self):
        raise ValueError("no")

    def __str__(self):
        return "250000.5"


class BadStr:
    def __str__(self):
        raise RuntimeError("str failed")


class CollidingKey:
    def __hash__(self):
        return hash("age")

    def __eq__(self, other):
        raise LookupError("compare failed")


@pytest.mark.parametrize("loan,expected", [
    ("250000.5", 250000.5), ("1,000", 100000.0), (None, 100000.0), (D("12.5"), 12.5), (D("sNaN"), 100000.0),
    ("1e5", 1e5), (".5", 0.5), ("5.", 5.0), ("+InFiNiTy", INF), ("-iNf", -INF), ("NaN", NAN), ("1E-2", 0.01),
    ("1e400", INF), ("-1e-400", -0.0), (10**400, INF), (b"5", 100000.0), (FloatLike(7.0), 7.0),
    (" 5", 100000.0), ("5 ", 100000.0), ("1_000", 100000.0), ("0x10", 100000.0), ("", 100000.0),
    (".", 100000.0), ("e5", 100000.0), ("1e", 100000.0), ("1e+", 100000.0), ("+-1", 100000.0),
    ("infinit", 100000.0), ("nan(1)", 100000.0), ("１２", 100000.0), ("1.5\x00", 100000.0),
    (ValueErrorFloat(), 250000.5),
])
def test_loan_amount_forms(loan, expected):
    got = compute_risk_batch([{"loan_amount": loan}])
    assert [bits(x) for x in got] == [bits(reference_score(500.0, 0.3, expected, 30.0, 5.0))]


@pytest.mark.parametrize("records,error,message", [
    ([{}, (1,)], TypeError, "'tuple' object is not an instance of 'dict'"),
    ([{}, None], TypeError, "'None' is not an instance of 'dict'"),
    ([{"credit_score": None}], TypeError, "must be real number, not NoneType"),
    ([{"age": "30"}], TypeError, "must be real number, not str"),
    ([{"interest_rate": 2**1100}], OverflowError, "int too large to convert to float"),
    ([{"debt_to_income_ratio": D("sNaN")}], ValueError, None),
    ([{"loan_amount": BadStr()}], RuntimeError, "str failed"),
    ([{"loan_amount": 10**5000}], ValueError, None),
    ([{"loan_amount": "\ud800"}], UnicodeEncodeError, None),
    ([{CollidingKey(): 1}], LookupError, "compare failed"),
])
def test_risk_failures(records, error, message):
    with pytest.raises(error) as info:
        compute_risk_batch(records)
    assert getattr(info.value, "__notes__", None) is None
    if message:
        assert str(info.value) == message


def test_risk_list_shrunk_during_extraction():
    data = []

    class Clearing:
        def __float__(self):
            data.clear()
            return 700.0
    data.extend([{"credit_score": Clearing()}, {}, {}])
    assert compute_risk_batch(data) == compute_risk_batch([{"credit_score": 700.0}])


reals = st.one_of(st.floats(), st.floats(-1e4, 1e4), st.integers(-10**6, 10**6), st.integers(-2**80, 2**80),
                  st.booleans(), st.floats().map(FloatLike), st.integers(-10**5, 10**5).map(IndexLike),
                  st.decimals(allow_nan=False, places=3, min_value=-10**6, max_value=10**6))
loan_amounts = st.one_of(
    reals, st.floats(-1e9, -0.5), st.sampled_from([10**400, -10**400, None, b"1", D("NaN"), D("sNaN")]),
    st.from_regex(LITERAL, fullmatch=True), st.floats().map(repr), st.floats().map(str).map(str.upper),
    st.text(alphabet="0123456789+-.eE_ ,infatyINFATY", max_size=10), st.text(max_size=6))
records_strategy = st.builds(
    lambda kind, fields: kind(fields), st.sampled_from([dict, Hooked]),
    st.fixed_dictionaries({}, optional={"credit_score": reals, "debt_to_income_ratio": reals, "age": reals,
                                        "interest_rate": reals, "loan_amount": loan_amounts, "other": reals}))


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(records_strategy, max_size=12))
def test_risk_matches_the_formula(records):
    assert_scores(records)


def test_risk_matches_the_formula_on_a_large_batch():
    import random
    rng = random.Random(11)
    pick = [lambda: rng.uniform(250.0, 900.0), lambda: rng.uniform(0.0, 1.5), lambda: rng.uniform(-2.0, 1e7),
            lambda: rng.choice([rng.uniform(18.0, 90.0), 25.0, 24.999999999999996, NAN]),
            lambda: rng.uniform(0.0, 30.0)]
    keys = list(DEFAULTS)
    records = [{k: f() for k, f in zip(keys, pick) if rng.random() < 0.9} for _ in range(40_001)]
    assert_scores(records)


# ---- validate_ids_batch ---------------------------------------------------------------------

class StrSub(str):
    pass


@pytest.mark.parametrize("text,ok", [
    ("12345678-1234", True), (StrSub("12345678-1234"), True), ("00000000-0000", True),
    ("1234567-81234", False), ("12345678-123", False), ("12345678_1234", False), ("a2345678-1234", False),
    ("12345678-12345", False), (" 12345678-1234", False), ("12345678-1234\n", False), ("", False),
    ("１２３４５６７８-１２３４", False), ("٠١٢٣٤٥٦٧-٨٩٠١", False), ("12345678‐1234", False),
    ("123456é-1234", False), ("1234567\u00b2-1234", False), (StrSub("1234"), False),
])
def test_id_examples(text, ok):
    assert validate_ids_batch([text]) == [ok]
    assert type(validate_ids_batch([text])[0]) is bool


@settings(max_examples=100, deadline=None)
@given(st.lists(st.one_of(st.from_regex(r"[0-9]{8}-[0-9]{4}", fullmatch=True),
                          st.from_regex(r"[0-9٣]{7,9}[-_‐][0-9]{3,5}\n?", fullmatch=True), st.text(max_size=14))))
def test_ids_match_the_pattern(ids):
    assert validate_ids_batch(ids) == [re.fullmatch(r"[0-9]{8}-[0-9]{4}", s, re.ASCII) is not None for s in ids]


@pytest.mark.parametrize("fn", [validate_ids_batch, validate_names_batch])
@pytest.mark.parametrize("items,error,message", [
    (["John Smith", 12345678], TypeError, "'int' object is not an instance of 'str'"),
    (["John Smith", None], TypeError, "'None' is not an instance of 'str'"),
    ([b"12345678-1234"], TypeError, "'bytes' object is not an instance of 'str'"),
    (["John Smith", "Jo\ud800n Smith"], UnicodeEncodeError, None),
    (["\udfff", 5], UnicodeEncodeError, None),
    ([5, "\udfff"], TypeError, "'int' object is not an instance of 'str'"),
])
def test_text_batches_reject_bad_items(fn, items, error, message):
    with pytest.raises(error) as info:
        fn(items)
    assert getattr(info.value, "__notes__", None) is None
    if message:
        assert str(info.value) == message


# ---- validate_names_batch -------------------------------------------------------------------

LENGTH, SPACE, DIGITS, CHARS = ("exceeds 120 characters", "must contain a space", "must not contain digits",
                                "contains invalid characters")


@pytest.mark.parametrize("name,errors", [
    ("John Smith", []), ("John", [SPACE]), ("John Smith2", [DIGITS]), ("John O'Brien", [CHARS]),
    ("Mary-Jane Åsa Øvergård", []), ("R2D2", [SPACE, DIGITS]), ("R2-D2!", [SPACE, DIGITS, CHARS]),
    ("", [SPACE]), (" ", []), ("John\tSmith", [SPACE, CHARS]), ("John\u00a0Smith", [SPACE, CHARS]),
    ("John\u3000Smith", [SPACE, CHARS]), ("J. Smith", [CHARS]), ("Jo٣n Smith", [CHARS]),
    ("Ǆemal Šarić", []), ("Иван Петров", []), ("毛 泽东", []), ("X\u00a9 Y", [CHARS]), ("X\u00aa Y", []),
    (StrSub("Ann Lee"), []),
    ("Ø" * 60 + " " + "Ø" * 59, []), ("A" * 119 + " ", []), ("𝐀" * 119 + " ", []),
    ("Ø" * 60 + " " + "Ø" * 60, [LENGTH]), ("a" * 121, [LENGTH, SPACE]),
    ("𝐀" * 60 + " " + "1" * 60, [LENGTH, DIGITS]), ("!" * 121, [LENGTH, SPACE, CHARS]),
    ("1 !" + "x" * 118, [LENGTH, DIGITS, CHARS]),
])
def test_name_examples(name, errors):
    [got] = validate_names_batch([name])
    assert list(got) == ["valid", "errors"]
    assert got == {"valid": not errors, "errors": errors}
    assert type(got["valid"]) is bool


NAME_ALPHABET = "aZ -0 9'.!\t\u00a0\u3000ÅØßЖ中ǅ٣€\u00a9\u00aa\u00bb𝐀😀"


def reference_name(name):
    errors = []
    if len(name) > 120:
        errors.append(LENGTH)
    if " " not in name:
        errors.append(SPACE)
    if any("0" <= ch <= "9" for ch in name):
        errors.append(DIGITS)
    # Over this alphabet the interpreter's letters are exactly the accepted ones.
    if any(not (ch in " -" or "0" <= ch <= "9" or ch.isalpha()) for ch in name):
        errors.append(CHARS)
    return {"valid": not errors, "errors": errors}


@settings(max_examples=200, deadline=None)
@given(st.lists(st.text(alphabet=NAME_ALPHABET, max_size=130) | st.text(alphabet=NAME_ALPHABET, min_size=115,
                                                                          max_size=125), max_size=20))
def test_names_match_the_rules(names):
    assert validate_names_batch(names) == [reference_name(n) for n in names]


# Code points the interpreter's database knows but the name table (Unicode 15.0.0) does not.
NEWER_THAN_TABLE = {"15.0.0": range(0), "15.1.0": range(0x2EBF0, 0x2EE5E)}


def test_every_letter_is_accepted_and_punctuation_is_not():
    newer = NEWER_THAN_TABLE.get(unicodedata.unidata_version)
    if newer is None:
        pytest.skip(f"no letter list for Unicode {unicodedata.unidata_version}")
    letters, others = [], []
    for cp in range(0x110000):
        category = unicodedata.category(chr(cp))
        if category[0] == "L" and cp not in newer:
            letters.append(chr(cp))
        elif category[0] in "PZ" or category in ("Nd", "Sm", "Sc", "Cc"):
            if chr(cp) not in " -0123456789":
                others.append(chr(cp))
    assert len(letters) > 130_000
    results = validate_names_batch([f"X{ch} Y" for ch in letters])
    assert [f"U+{ord(ch):04X}" for ch, r in zip(letters, results) if not r["valid"]] == []
    results = validate_names_batch([f"X{ch} Y" for ch in others])
    assert [f"U+{ord(ch):04X}" for ch, r in zip(others, results) if r["errors"] != [CHARS]] == []


# ---- worker threads and the interpreter lock ------------------------------------------------

# Inputs of the order check, built the same way in the child processes.
ORDER_DATA = r"""
records = [{"credit_score": 300 + i % 600, "loan_amount": i * 37.5, "age": 18 + i % 60} for i in range(20001)]
names = [("Ann Lee", "R2D2", "Mary-Jane Åsa", "x" * (115 + i % 10) + " ")[i % 4] + str(i % 3 or "")
         for i in range(20001)]
"""

ORDER_SCRIPT = r"""
import json, os, struct
import zembra_core as z
def threads():
    return len(os.listdir("/proc/self/task"))
start = threads()
z.batch_stats([]); z.validate_ids_batch(["12345678-1234"] * 1000)
for call, bad in ((z.validate_names_batch, ["John Smith", 5]), (z.validate_names_batch, ["John Smith", "\ud800"]),
                  (z.compute_risk_batch, [{}, None])):
    try:
        call(bad)
    except (TypeError, UnicodeEncodeError):
        pass
untouched = threads()
""" + ORDER_DATA + r"""
scores = z.compute_risk_batch(records)
print(json.dumps({"file": z.__file__, "start": start, "untouched": untouched, "after": threads(),
                  "scores": [struct.pack("<d", s).hex() for s in scores],
                  "names": z.validate_names_batch(names)}))
"""


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="thread count read from /proc")
@pytest.mark.parametrize("workers", [1, 2, 5])
def test_results_in_input_order_for_any_worker_count(workers):
    package_root = os.path.dirname(os.path.dirname(zembra_core.__file__))
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers),
               PYTHONPATH=os.pathsep.join([package_root] + [p for p in [os.environ.get("PYTHONPATH")] if p]))
    out = subprocess.run([sys.executable, "-c", ORDER_SCRIPT], env=env, capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    got = json.loads(out.stdout)
    assert got["file"] == zembra_core.__file__
    # Failing calls and the lock-holding functions never start the pool.
    assert (got["start"], got["untouched"], got["after"]) == (1, 1, 1 + workers)
    data = {}
    exec(ORDER_DATA, data)
    records, names = data["records"], data["names"]
    assert got["scores"] == [struct.pack("<d", s).hex() for s in compute_risk_batch(records)]
    assert got["scores"][:50] == [struct.pack("<d", reference_record(r)).hex() for r in records[:50]]
    assert got["names"] == validate_names_batch(names)
    assert got["names"][:50] == [reference_name(n) for n in names[:50]]


def counter_advances_during(fn, arg):
    """Whether another Python thread ran while ``fn(arg)`` was inside native code.

    With a switch interval far longer than the test, the main thread is never
    forced to hand over the lock: the counter only runs when a call lets go.
    """
    state = {"count": 0, "stop": False}

    def count():
        while not state["stop"]:
            state["count"] += 1
            os.sched_yield()  # lets the main thread take the lock back at once

    old = sys.getswitchinterval()
    thread = threading.Thread(target=count, daemon=True)
    sys.setswitchinterval(1000.0)
    try:
        thread.start()
        for _ in range(3):  # a loaded machine may not schedule the counter in one window
            before = state["count"]
            fn(arg)
            if state["count"] != before:
                return True
        return False
    finally:
        state["stop"] = True
        thread.join()
        sys.setswitchinterval(old)


@pytest.mark.parametrize("fn,make,releases", [
    (batch_stats, lambda: [float(i % 1000) for i in range(2_000_000)], True),
    (compute_risk_batch, lambda: [{"credit_score": 700.0, "age": 40}] * 1_000_000, True),
    (validate_names_batch, lambda: ["Mary-Jane Åsa Øvergård " * 4 + "x"] * 400_000, True),
    (validate_ids_batch, lambda: ["12345678-1234", "1234"] * 500_000, False),
], ids=["batch_stats", "compute_risk_batch", "validate_names_batch", "validate_ids_batch"])
def test_other_threads_run_during_long_batches(fn, make, releases):
    assert counter_advances_during(fn, make()) is releases


# ---- leaks ----------------------------------------------------------------------------------

@pytest.mark.parametrize("fn,args", [
    (batch_stats, [1, 2.5, True, FloatLike(3.0), D("4.5"), NAN]),
    (batch_stats, [1.0, "x"]),
    (batch_stats, (1.0, 2.0)),
    (compute_risk_batch, [{}, {"credit_score": 700, "loan_amount": "1e5"}, Hooked(age=20),
                          {"loan_amount": ValueErrorFloat()}, {"loan_amount": None}]),
    (compute_risk_batch, [{}, {"age": None}]),
    (compute_risk_batch, [{"loan_amount": BadStr()}]),
    (compute_risk_batch, [{}, 5]),
    (validate_ids_batch, ["12345678-1234", StrSub("x"), "é" * 13]),
    (validate_ids_batch, ["12345678-1234", "\ud800"]),
    (validate_ids_batch, ["12345678-1234", 5]),
    (validate_names_batch, ["John Smith", "R2-D2!", "Ø" * 121, StrSub("Ann Lee")]),
    (validate_names_batch, ["John Smith", "\ud800"]),
    (validate_names_batch, ["John Smith", None]),
    (validate_names_batch, "John Smith"),
])
def test_no_leaks(fn, args):
    assert_no_leak(lambda: fn(args), args)


def test_interrupt_in_a_loan_amount_conversion_is_not_swallowed():
    class Interrupting:
        def __float__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        compute_risk_batch([{"loan_amount": Interrupting()}])


def test_benchmark_floors_read_and_build_like_the_batches(testing_module):
    # The test-only helpers the benchmarks time as floors: same inputs, same
    # result shapes, and no leaks.
    records = [{"credit_score": 700.0, "age": 40.0}, {"credit_score": 1.5, "loan_amount": "x"}]
    keys = [sys.intern(k) for k in ("credit_score", "age")]
    assert testing_module.floor_risk(records, keys) == [740.0, 1.5]
    assert testing_module.floor_names(["Ann Lee", "Bo"]) == [{"valid": True, "errors": []}] * 2
    assert_no_leak(lambda: testing_module.floor_risk(records, keys), records, per_round=300)
    assert_no_leak(lambda: testing_module.floor_names(["Ann Lee"]), per_round=300)

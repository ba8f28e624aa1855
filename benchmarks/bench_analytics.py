"""Batch analytics against the statistics module, NumPy, re and plain Python, side by side.

Every function runs at two sizes (10,000 and 1,000,000 items) so that the
per-item cost and how it scales are visible. Outputs are compared once per
size before timing.
"""

import math
import os
import random
import re
import statistics
import sys

# The NumPy contenders use no BLAS routine; idle BLAS threads would only
# compete with the worker pool for the cores.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy as np  # noqa: E402

from harness import compare  # noqa: E402
from zembra_core import batch_stats, compute_risk_batch, validate_ids_batch, validate_names_batch  # noqa: E402

SIZES = (10_000, 1_000_000)
OURS = "zembra"
# Floors: what no implementation avoids, reading the inputs and building the
# result objects, measured with native helpers of the test-only module
# (`make native-testing-module`; skipped without it) at this size only.
FLOOR_SIZE = 10_000
RISK_FLOOR = "floor: reading the five values + one new float per record"
NAMES_FLOOR = "floor: reading the names + building the result dicts and lists"
try:
    import _zembra_testing as floors
except ImportError:
    floors = None

# Ratios we aim for: (function, contender) -> at least this many times faster.
GOALS = {
    ("batch_stats", "statistics fmean+median+pstdev"): 20.0,
    ("batch_stats", "NumPy asarray+mean+median+std"): 1.0,
    ("compute_risk_batch", "plain Python loop"): 10.0,
    ("validate_ids_batch", "re.fullmatch per item"): 5.0,
    ("validate_names_batch", "plain Python loop"): 20.0,
}


def timing(n):
    # Large inputs: few single-call samples, the machine is shared.
    return {"repeat": 5} if n <= 10_000 else {"repeat": 3, "number": 1}


# ---- batch_stats ----------------------------------------------------------------------------

def make_floats(n):
    rng = random.Random(1)
    return [rng.gauss(1_000.0, 250.0) for _ in range(n)]


def statistics_summary(values):
    return statistics.fmean(values), statistics.median(values), statistics.pstdev(values)


def numpy_summary(values):
    a = np.asarray(values, dtype=np.float64)
    return float(a.mean()), float(np.median(a)), float(a.std())


def bench_stats(n):
    values = make_floats(n)

    def check(outs):
        ours = outs[OURS]
        for key in ("statistics fmean+median+pstdev", "NumPy asarray+mean+median+std"):
            mean, median, stdev = outs[key]
            assert math.isclose(ours["mean"], mean, rel_tol=1e-9) and ours["median"] == median
            assert math.isclose(ours["stdev"], stdev, rel_tol=1e-9)

    return compare(f"batch_stats: {n:,} floats", {
        OURS: lambda: batch_stats(values),
        "statistics fmean+median+pstdev": lambda: statistics_summary(values),
        "NumPy asarray+mean+median+std": lambda: numpy_summary(values),
    }, ours=OURS, check=check, **timing(n))


# ---- compute_risk_batch ---------------------------------------------------------------------

RISK_KEYS = (("credit_score", 500.0), ("debt_to_income_ratio", 0.3), ("loan_amount", 100000.0), ("age", 30.0),
             ("interest_rate", 5.0))


def make_records(n):
    rng = random.Random(2)
    records = []
    for _ in range(n):
        r = {"credit_score": rng.uniform(300.0, 850.0), "debt_to_income_ratio": rng.uniform(0.0, 1.2),
             "loan_amount": rng.uniform(1_000.0, 900_000.0), "age": float(rng.randint(18, 80)),
             "interest_rate": rng.uniform(1.0, 15.0)}
        if rng.random() < 0.1:
            del r["age"]  # some records rely on defaults
        records.append(r)
    return records


def python_risk(records):
    log, sqrt = math.log, math.sqrt
    out = []
    for r in records:
        c = float(r.get("credit_score", 500.0))
        d = float(r.get("debt_to_income_ratio", 0.3))
        loan = r.get("loan_amount", 100000.0)
        try:
            L = float(loan)
        except (TypeError, ValueError):
            L = 100000.0
        a = float(r.get("age", 30.0))
        i = float(r.get("interest_rate", 5.0))
        base = (100.0 - c / 10.0) + 50.0 * d
        t = (2.0 * log(L + 1.0) + base) - (5.0 if a >= 25.0 else 0.0)
        t = 0.5 * i + t
        q = c - 300.0
        t = t - 0.3 * sqrt(q if q > 0.0 else 0.0)
        out.append(0.0 if t < 0.0 else 100.0 if t > 100.0 else t)
    return out


def numpy_columns(records):
    n = len(records)
    return [np.fromiter((r.get(k, default) for r in records), dtype=np.float64, count=n)
            for k, default in RISK_KEYS]


def numpy_formula(columns):
    c, d, L, a, i = columns
    base = (100.0 - c / 10.0) + 50.0 * d
    t = (2.0 * np.log(L + 1.0) + base) - np.where(a >= 25.0, 5.0, 0.0)
    t = 0.5 * i + t
    t = t - 0.3 * np.sqrt(np.maximum(c - 300.0, 0.0))
    return np.clip(t, 0.0, 100.0).tolist()


def bench_risk(n):
    records = make_records(n)
    columns = numpy_columns(records)
    floor = {}
    if n <= FLOOR_SIZE and floors:
        keys = [sys.intern(k) for k, _ in RISK_KEYS]
        floor[RISK_FLOOR] = lambda: floors.floor_risk(records, keys)

    def check(outs):
        ours = outs[OURS]
        assert ours == outs["plain Python loop"]
        assert np.allclose(ours, outs["NumPy: extract columns + vector formula"], rtol=1e-12, atol=0)

    return compare(f"compute_risk_batch: {n:,} dicts of 5 floats", {
        OURS: lambda: compute_risk_batch(records),
        "plain Python loop": lambda: python_risk(records),
        "NumPy: extract columns + vector formula": lambda: numpy_formula(numpy_columns(records)),
        "NumPy: vector formula only (columns given)": lambda: numpy_formula(columns),
        **floor,
    }, ours=OURS, check=check, **timing(n))


# ---- validate_ids_batch ---------------------------------------------------------------------

ID_PATTERN = re.compile(r"[0-9]{8}-[0-9]{4}")


def make_ids(n):
    rng = random.Random(3)
    ids = []
    for k in range(n):
        s = f"{rng.randrange(10**8):08d}-{rng.randrange(10**4):04d}"
        if k % 5 == 0:  # a fifth are malformed in some way
            s = rng.choice([s[:-1], s.replace("-", "_"), " " + s, s[:3] + "x" + s[4:], s + "0"])
        ids.append(s)
    return ids


def bench_ids(n):
    ids = make_ids(n)

    def check(outs):
        assert outs[OURS] == outs["re.fullmatch per item"] == outs["precompiled pattern.fullmatch"]

    return compare(f"validate_ids_batch: {n:,} IDs", {
        OURS: lambda: validate_ids_batch(ids),
        "re.fullmatch per item": lambda: [re.fullmatch(r"[0-9]{8}-[0-9]{4}", s) is not None for s in ids],
        "precompiled pattern.fullmatch": lambda: [ID_PATTERN.fullmatch(s) is not None for s in ids],
    }, ours=OURS, check=check, **timing(n))


# ---- validate_names_batch -------------------------------------------------------------------

FIRST = ["John", "Mary-Jane", "Åsa", "Ole", "Zoë", "Иван", "Søren", "Li", "François", "Aoife", "Jürgen", "Nadia"]
LAST = ["Smith", "Øvergård", "O'Brien", "Petrov", "García", "Nguyen", "Müller", "Kowalski", "Smith2", "Lee"]


def make_names(n):
    rng = random.Random(4)
    names = []
    for k in range(n):
        name = f"{rng.choice(FIRST)} {rng.choice(LAST)}{'' if k % 3 else rng.choice(FIRST).lower()}"
        if k % 11 == 0:
            name = name.replace(" ", "")
        if k % 997 == 0:
            name = name * 15  # over the length limit
        names.append(name)
    return names


def python_names(names):
    out = []
    for name in names:
        errors = []
        if len(name) > 120:
            errors.append("exceeds 120 characters")
        space = digit = invalid = False
        for ch in name:
            if ch == " ":
                space = True
            elif "0" <= ch <= "9":
                digit = True
            elif not (ch == "-" or ch.isalpha()):
                invalid = True
        if not space:
            errors.append("must contain a space")
        if digit:
            errors.append("must not contain digits")
        if invalid:
            errors.append("contains invalid characters")
        out.append({"valid": not errors, "errors": errors})
    return out


# Letters are word characters that are neither digits nor "_"; other digits are invalid.
DIGIT_RE = re.compile(r"[0-9]")
INVALID_RE = re.compile(r"[^\w \-]|_|(?![0-9])\d")


def regex_names(names):
    out = []
    for name in names:
        errors = []
        if len(name) > 120:
            errors.append("exceeds 120 characters")
        if " " not in name:
            errors.append("must contain a space")
        if DIGIT_RE.search(name):
            errors.append("must not contain digits")
        if INVALID_RE.search(name):
            errors.append("contains invalid characters")
        out.append({"valid": not errors, "errors": errors})
    return out


def bench_names(n):
    names = make_names(n)
    floor = {}
    if n <= FLOOR_SIZE and floors:
        floor[NAMES_FLOOR] = lambda: floors.floor_names(names)

    def check(outs):
        assert outs[OURS] == outs["plain Python loop"] == outs["Python with two regexes"]

    return compare(f"validate_names_batch: {n:,} names", {
        OURS: lambda: validate_names_batch(names),
        "plain Python loop": lambda: python_names(names),
        "Python with two regexes": lambda: regex_names(names),
        **floor,
    }, ours=OURS, check=check, **timing(n))


# ---- driver ---------------------------------------------------------------------------------

BENCHES = {"batch_stats": bench_stats, "compute_risk_batch": bench_risk, "validate_ids_batch": bench_ids,
           "validate_names_batch": bench_names}


def run():
    results = []
    for bench in BENCHES.values():
        for n in SIZES:
            result = bench(n)
            result.function, result.size = result.name.split(":")[0], n
            results.append(result)
    return results


def summary(results):
    lines = ["", "Goals (ratio = contender time / ours):"]
    for r in results:
        for contender, ratio in r.ratios().items():
            goal = GOALS.get((r.function, contender))
            if goal is not None:
                verdict = "met" if ratio >= goal else "NOT met"
                lines.append(f"  {r.function:<22} {r.size:>9,}  vs {contender:<34} {ratio:8.2f}x"
                             f"  (goal >= {goal:g}x: {verdict})")
    for r in results:
        floor_times = {k: v for k, v in r.timings.items() if k.startswith("floor")}
        for floor_name, floor_time in floor_times.items():
            for contender in r.timings:
                goal = GOALS.get((r.function, contender))
                if goal is not None:
                    best = r.timings[contender] / floor_time
                    lines.append(f"  {r.function:<22} {r.size:>9,}  vs {contender:<34} {best:8.2f}x at most "
                                 f"(the {floor_name}; it takes {floor_time / r.timings[r.ours]:.2f} of our time)")
    lines += ["", "Scaling of ours from the smaller to the larger size (per-item time):"]
    by_function = {}
    for r in results:
        by_function.setdefault(r.function, {})[r.size] = r.timings[r.ours]
    for function, times in by_function.items():
        small, large = min(times), max(times)
        per_small, per_large = times[small] / small, times[large] / large
        lines.append(f"  {function:<22} {per_small * 1e9:8.1f} ns/item at {small:,}, {per_large * 1e9:8.1f} ns/item "
                     f"at {large:,} ({per_large / per_small:.2f}x)")
    return "\n".join(lines)


if __name__ == "__main__":
    from harness import machine_line
    print(machine_line())
    results = run()
    for r in results:
        print(r.report())
    print(summary(results))

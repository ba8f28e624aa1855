"""Validation against pydantic, msgspec and a plain-Python validator, side by side."""

import decimal
from typing import Annotated, TypedDict

import msgspec
import pydantic
from annotated_types import Ge, Le, MaxLen, MinLen

from harness import compare
from zembra_core import Field, Schema, validate, validate_many

N = 10_000
D = decimal.Decimal

SCHEMA = Schema({
    "name": Field(str, max_length=50, min_length=1), "email": Field(str, max_length=100),
    "age": Field(int, min_value=0, max_value=150), "score": Field(float, min_value=0.0, max_value=100.0),
    "price": Field(D, max_digits=10, decimal_places=2), "active": Field(bool),
    "city": Field(str, max_length=30), "zip": Field(str, max_length=10, min_length=5),
    "rank": Field(int, min_value=1, max_value=1000), "ratio": Field(float, max_value=1.0),
})


def make_records(with_errors):
    return [{"name": f"user{i}", "email": f"user{i}@example.com",
             "age": 200 if with_errors and i % 97 == 0 else 20 + i % 90,
             "score": (i % 1000) / 10, "price": D(f"{i % 10000}.{i % 100:02d}"), "active": i % 2 == 0,
             "city": "Springfield", "zip": f"{10000 + i % 90000}", "rank": 1 + i % 1000, "ratio": (i % 100) / 100}
            for i in range(N)]


class Rec(TypedDict):
    name: Annotated[str, MaxLen(50), MinLen(1)]
    email: Annotated[str, MaxLen(100)]
    age: Annotated[int, Ge(0), Le(150)]
    score: Annotated[float, Ge(0.0), Le(100.0)]
    price: Annotated[D, pydantic.Field(max_digits=10, decimal_places=2)]
    active: bool
    city: Annotated[str, MaxLen(30)]
    zip: Annotated[str, MaxLen(10), MinLen(5)]
    rank: Annotated[int, Ge(1), Le(1000)]
    ratio: Annotated[float, Le(1.0)]


class MRec(msgspec.Struct):
    name: Annotated[str, msgspec.Meta(max_length=50, min_length=1)]
    email: Annotated[str, msgspec.Meta(max_length=100)]
    age: Annotated[int, msgspec.Meta(ge=0, le=150)]
    score: Annotated[float, msgspec.Meta(ge=0.0, le=100.0)]
    price: D
    active: bool
    city: Annotated[str, msgspec.Meta(max_length=30)]
    zip: Annotated[str, msgspec.Meta(max_length=10, min_length=5)]
    rank: Annotated[int, msgspec.Meta(ge=1, le=1000)]
    ratio: Annotated[float, msgspec.Meta(le=1.0)]


LIMITS = {"name": (1, 50), "email": (None, 100), "city": (None, 30), "zip": (5, 10)}
BOUNDS = {"age": (0, 150), "score": (0.0, 100.0), "rank": (1, 1000), "ratio": (None, 1.0)}


def plain_python(records):
    errors = []
    for r in records:
        for k, (lo, hi) in LIMITS.items():
            n = len(r[k])
            if hi is not None and n > hi:
                errors.append({"field": k, "message": f"Ensure this value has at most {hi} characters (it has {n}).",
                               "code": "max_length", "params": {"max_length": str(hi), "length": str(n)}})
            if lo is not None and n < lo:
                errors.append({"field": k, "message": f"Ensure this value has at least {lo} characters (it has {n}).",
                               "code": "min_length", "params": {"min_length": str(lo), "length": str(n)}})
        for k, (lo, hi) in BOUNDS.items():
            v = r[k]
            if lo is not None and v < lo:
                errors.append({"field": k, "message": f"Ensure this value is greater than or equal to {lo}.",
                               "code": "min_value", "params": {"min_value": str(lo)}})
            if hi is not None and v > hi:
                errors.append({"field": k, "message": f"Ensure this value is less than or equal to {hi}.",
                               "code": "max_value", "params": {"max_value": str(hi)}})
        t = r["price"].as_tuple()
        digits, places = len(t.digits), max(-t.exponent, 0)
        if digits > 10:
            errors.append({"field": "price", "code": "max_digits"})
        if places > 2:
            errors.append({"field": "price", "code": "max_decimal_places"})
        if type(r["active"]) is not bool:
            errors.append({"field": "active", "code": "invalid"})
    return errors


def run():
    records = make_records(False)
    faulty = make_records(True)
    adapter = pydantic.TypeAdapter(list[Rec])

    def pyd(data):
        try:
            adapter.validate_python(data)
        except pydantic.ValidationError as exc:
            return exc.error_count()

    results = [compare(
        f"validate_many: {N} valid dicts of 10 constrained fields",
        {"zembra validate_many": lambda: validate_many(records, SCHEMA),
         "pydantic TypeAdapter.validate_python": lambda: pyd(records),
         "msgspec.convert with Meta constraints": lambda: msgspec.convert(records, list[MRec]),
         "plain Python validator": lambda: plain_python(records)},
        ours="zembra validate_many", repeat=5)]
    # msgspec stops at the first error, so it has no place in this one.
    results.append(compare(
        f"validate_many: {N} dicts, 1 in 97 with an error (full report)",
        {"zembra validate_many": lambda: validate_many(faulty, SCHEMA),
         "pydantic TypeAdapter.validate_python": lambda: pyd(faulty),
         "plain Python validator": lambda: plain_python(faulty)},
        ours="zembra validate_many", repeat=5))

    wide = Schema({f"f{i}": Field(int, min_value=0, max_value=10) for i in range(300)})
    wide_record = {f"f{i}": i % 20 for i in range(300)}
    per_field = [Schema({f"f{i}": Field(int, min_value=0, max_value=10)}) for i in range(300)]
    results.append(compare(
        "validate: one record of 300 fields (checked on the pool) vs 300 single-field calls on the caller",
        {"zembra validate (300 fields, pool)": lambda: validate(wide_record, wide),
         "zembra validate_many on an object (sequential checks)": lambda: validate_many([Obj(wide_record)], wide),
         "300 x validate (1 field each)": lambda: [validate(wide_record, s) for s in per_field]},
        ours="zembra validate (300 fields, pool)"))
    return results


class Obj:
    def __init__(self, d):
        self.__dict__.update(d)


if __name__ == "__main__":
    for r in run():
        print(r.report())

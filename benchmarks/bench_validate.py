"""Validation against pydantic, msgspec and a plain-Python validator, side by side."""

import datetime as dt
import decimal
import sys
import uuid
from typing import Annotated, TypedDict

import msgspec
import pydantic
from annotated_types import Ge, Le, MaxLen, MinLen

from harness import compare
from shapes import OFFSETS, UTC, ZONES, datetimes, realistic_records, zone_calls
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
    results.extend(run_datetimes())
    results.append(run_realistic())
    return results


class MStamp(msgspec.Struct):
    created: dt.datetime


def run_datetimes():
    schema = Schema({"created": Field(dt.datetime)})
    results = []
    for label, zones in (("fixed offsets", OFFSETS), ("zoneinfo zones", ZONES)):
        stamps = datetimes(N, zones)
        records = [{"created": t} for t in stamps]
        in_utc = [{"created": t.astimezone(UTC)} for t in stamps]
        results.append(compare(
            f"validate_many: {N} dicts of one datetime in {label}",
            {"zembra validate_many": lambda: validate_many(records, schema),
             "msgspec.convert": lambda: msgspec.convert(records, list[MStamp]),
             "zembra validate_many, same instants in UTC": lambda: validate_many(in_utc, schema),
             **zone_calls(zones, stamps)},
            ours="zembra validate_many", repeat=5))
    return results


REALISTIC = Schema({
    "name": Field(str, max_length=100, min_length=1), "count": Field(int, min_value=0, max_value=1000),
    "ratio": Field(float, min_value=0.0, max_value=1.0), "active": Field(bool),
    "price": Field(D, max_digits=10, decimal_places=2), "key": Field(uuid.UUID), "created": Field(dt.datetime),
    "day": Field(dt.date), "tags": Field(list), "blob": Field(bytes, max_length=64),
})


class MRealistic(msgspec.Struct):
    name: Annotated[str, msgspec.Meta(max_length=100, min_length=1)]
    count: Annotated[int, msgspec.Meta(ge=0, le=1000)]
    ratio: Annotated[float, msgspec.Meta(ge=0.0, le=1.0)]
    active: bool
    price: D
    key: uuid.UUID
    created: dt.datetime
    day: dt.date
    tags: list
    blob: Annotated[bytes, msgspec.Meta(max_length=64)]


def error(field, code, message, **params):
    return {"field": field, "message": message, "code": code, "params": {k: str(v) for k, v in params.items()}}


def python_realistic(records):
    """The same checks and report written out in plain Python."""
    errors = []
    failed = 0
    for r in records:
        before = len(errors)
        name = r.get("name")
        if not isinstance(name, str):
            errors.append(error("name", "invalid", "Invalid type: expected str."))
        elif len(name) > 100:
            errors.append(error("name", "max_length", f"Ensure this value has at most 100 characters "
                                f"(it has {len(name)}).", max_length=100, length=len(name)))
        elif len(name) < 1:
            errors.append(error("name", "min_length", f"Ensure this value has at least 1 characters "
                                f"(it has {len(name)}).", min_length=1, length=len(name)))
        count = r.get("count")
        if type(count) is not int:
            errors.append(error("count", "invalid", "Invalid type: expected int."))
        elif not 0 <= count <= 1000:
            errors.append(error("count", "max_value", "Ensure this value is less than or equal to 1000.",
                                max_value=1000))
        ratio = r.get("ratio")
        if type(ratio) is not float:
            errors.append(error("ratio", "invalid", "Invalid type: expected float."))
        elif not 0.0 <= ratio <= 1.0:
            errors.append(error("ratio", "max_value", "Ensure this value is less than or equal to 1.",
                                max_value=1))
        if type(r.get("active")) is not bool:
            errors.append(error("active", "invalid", "Invalid type: expected bool."))
        price = r.get("price")
        if not isinstance(price, D):
            errors.append(error("price", "invalid", "Invalid type: expected Decimal."))
        else:
            t = price.as_tuple()
            if len(t.digits) > 10:
                errors.append(error("price", "max_digits", "Ensure that there are no more than 10 digits in total.",
                                    max_digits=10))
            if max(-t.exponent, 0) > 2:
                errors.append(error("price", "max_decimal_places",
                                    "Ensure that there are no more than 2 decimal places.", decimal_places=2))
        if not isinstance(r.get("key"), uuid.UUID):
            errors.append(error("key", "invalid", "Invalid type: expected UUID."))
        if not isinstance(r.get("created"), dt.datetime):
            errors.append(error("created", "invalid", "Invalid type: expected datetime."))
        if not isinstance(r.get("day"), dt.date):
            errors.append(error("day", "invalid", "Invalid type: expected date."))
        if not isinstance(r.get("tags"), list):
            errors.append(error("tags", "invalid", "Expected a list."))
        blob = r.get("blob")
        if not isinstance(blob, bytes):
            errors.append(error("blob", "invalid", "Invalid type: expected bytes."))
        elif len(blob) > 64:
            errors.append(error("blob", "max_length", f"Ensure this value has at most 64 bytes (it has {len(blob)}).",
                                max_length=64, length=len(blob)))
        failed += len(errors) > before
    fields = 10 * len(records)
    return {"valid_count": fields - failed, "error_count": len(errors), "is_valid": not errors, "errors": errors}


def run_realistic():
    records = realistic_records(N)

    def check(outs):
        assert outs["zembra validate_many"] == outs["plain Python validator"]
        assert outs["zembra validate_many"]["is_valid"]

    prices = [r["price"] for r in records]
    floor = {}
    try:  # the test-only module's native reader (`make native-testing-module`)
        import _zembra_testing
        keys = [sys.intern(k) for k in REALISTIC.field_names_list]
        # What no implementation avoids: reading the ten values, and the text
        # of each Decimal (its digits have no other public reader).
        floor["floor: reading the ten values + str() of the decimals"] = lambda: (
            _zembra_testing.floor_risk(records, keys), list(map(str, prices)))
    except ImportError:
        pass
    return compare(
        f"validate_many: {N} realistic records of 10 fields (datetimes in four offsets)",
        {"zembra validate_many": lambda: validate_many(records, REALISTIC),
         "msgspec.convert with Meta constraints": lambda: msgspec.convert(records, list[MRealistic]),
         "plain Python validator": lambda: python_realistic(records),
         **floor},
        ours="zembra validate_many", repeat=5, check=check)


class Obj:
    def __init__(self, d):
        self.__dict__.update(d)


if __name__ == "__main__":
    for r in run():
        print(r.report())

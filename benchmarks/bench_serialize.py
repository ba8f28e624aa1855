"""Serialization against msgspec, pydantic and plain Python, side by side."""

import base64
import datetime as dt
import decimal
import marshal
import uuid

import msgspec
import pydantic

from harness import compare
from shapes import OFFSETS, ZONES, datetimes, realistic_records, zone_calls
from zembra_core import Field, Schema, serialize, serialize_many

N = 10_000
UTC = dt.timezone.utc


def make_records():
    base = dt.datetime(2024, 1, 1, tzinfo=UTC)
    return [{
        "id": i, "name": f"user{i}", "email": f"user{i}@example.com", "active": i % 2 == 0,
        "score": i * 0.5, "age": 20 + i % 50, "tags": ["a", "b"],
        "price": decimal.Decimal(f"{i}.{i % 100:02d}"), "key": uuid.UUID(int=i * 7919 + 1),
        "created": base + dt.timedelta(seconds=i),
    } for i in range(N)]


SCHEMA = Schema({
    "id": Field(int), "name": Field(str), "email": Field(str), "active": Field(bool), "score": Field(float),
    "age": Field(int), "tags": Field(list), "price": Field(decimal.Decimal), "key": Field(uuid.UUID),
    "created": Field(dt.datetime),
})


def plain_python(records):
    out = []
    for r in records:
        d = dict(r)
        d["price"] = str(d["price"])
        d["key"] = str(d["key"])
        d["created"] = d["created"].isoformat()
        out.append(d)
    return out


class Rec:
    __slots__ = ("id", "name", "email", "active", "score", "age", "tags", "price", "key", "created")

    def __init__(self, d):
        for k, v in d.items():
            setattr(self, k, v)


class Model(pydantic.BaseModel):
    model_config = pydantic.ConfigDict(from_attributes=True)
    id: int
    name: str
    email: str
    active: bool
    score: float
    age: int
    tags: list
    price: decimal.Decimal
    key: uuid.UUID
    created: dt.datetime


def run():
    records = make_records()
    objects = [Rec(r) for r in records]
    results = []

    def check_many(outs):
        ours = outs["zembra serialize_many"]
        assert ours == outs["plain Python loop"]
        assert len(outs["msgspec.to_builtins"]) == len(ours)

    results.append(compare(
        f"serialize_many: {N} dicts of 10 fields (Decimal, UUID, datetime converted)",
        {"zembra serialize_many": lambda: serialize_many(records, SCHEMA),
         "msgspec.to_builtins": lambda: msgspec.to_builtins(records),
         "plain Python loop": lambda: plain_python(records)},
        ours="zembra serialize_many", repeat=5, check=check_many))

    adapter = pydantic.TypeAdapter(list[Model])
    models = [Model.model_validate(o) for o in objects]
    results.append(compare(
        f"serialize (typed route): {N} objects with attributes",
        {"zembra serialize": lambda: [serialize(o, SCHEMA) for o in objects],
         "pydantic TypeAdapter.dump_python(json)": lambda: adapter.dump_python(models, mode="json"),
         "pydantic validate+dump from attributes": lambda: [Model.model_validate(o).model_dump(mode="json")
                                                             for o in objects]},
        ours="zembra serialize", repeat=5))
    results.extend(run_datetimes())
    results.append(run_realistic())
    return results


def run_datetimes():
    """One aware datetime per record, in fixed offsets and in zoneinfo zones;
    the same instants in UTC show what the zone costs."""
    schema = Schema({"created": Field(dt.datetime)})
    results = []
    for label, zones in (("fixed offsets", OFFSETS), ("zoneinfo zones", ZONES)):
        stamps = datetimes(N, zones)
        records = [{"created": t} for t in stamps]
        in_utc = [{"created": t.astimezone(UTC)} for t in stamps]
        objects = [Rec1(t) for t in stamps]
        utc_objects = [Rec1(t.astimezone(UTC)) for t in stamps]

        def check(outs, records=records):
            assert outs["zembra serialize_many"] == [{"created": r["created"].isoformat()} for r in records]

        results.append(compare(
            f"serialize_many: {N} dicts of one datetime in {label}",
            {"zembra serialize_many": lambda: serialize_many(records, schema),
             "msgspec.to_builtins": lambda: msgspec.to_builtins(records),
             "zembra serialize_many, same instants in UTC": lambda: serialize_many(in_utc, schema),
             **zone_calls(zones, stamps)},
            ours="zembra serialize_many", repeat=5, check=check))
        results.append(compare(
            f"serialize (typed route): {N} objects, one datetime in {label}",
            {"zembra serialize": lambda: [serialize(o, schema) for o in objects],
             "plain Python astimezone(UTC).isoformat()": lambda: [
                 {"created": o.created.astimezone(UTC).isoformat()} for o in objects],
             "zembra serialize, same instants in UTC": lambda: [serialize(o, schema) for o in utc_objects]},
            ours="zembra serialize", repeat=5))
    return results


class Rec1:
    __slots__ = ("created",)

    def __init__(self, created):
        self.created = created


REALISTIC = Schema({
    "name": Field(str), "count": Field(int), "ratio": Field(float), "active": Field(bool),
    "price": Field(decimal.Decimal), "key": Field(uuid.UUID), "created": Field(dt.datetime),
    "day": Field(dt.date), "tags": Field(list), "blob": Field(bytes),
})


def copy_and_convert(records):
    out = []
    b64 = base64.b64encode
    for r in records:
        d = dict(r)
        d["price"] = str(d["price"])
        d["key"] = str(d["key"])
        d["created"] = d["created"].isoformat()
        d["day"] = d["day"].isoformat()
        d["blob"] = b64(d["blob"]).decode("ascii")
        out.append(d)
    return out


def run_realistic():
    records = realistic_records(N)

    def check(outs):
        assert outs["zembra serialize_many"] == outs["plain Python copy-and-convert loop"]

    converted = marshal.dumps([r[k] for r in copy_and_convert(records) for k in ("price", "key", "created", "day",
                                                                                  "blob")])
    return compare(
        f"serialize_many: {N} realistic records of 10 fields (datetimes in four offsets)",
        {"zembra serialize_many": lambda: serialize_many(records, REALISTIC),
         "msgspec.to_builtins": lambda: msgspec.to_builtins(records),
         "plain Python copy-and-convert loop": lambda: copy_and_convert(records),
         # What no implementation avoids: a copy of each record, and the five
         # texts a conversion creates (marshal.loads of just those).
         "floor: dict.copy of each record + marshal.loads of the converted values": lambda: (
             list(map(dict.copy, records)), marshal.loads(converted))},
        ours="zembra serialize_many", repeat=5, check=check)


if __name__ == "__main__":
    for r in run():
        print(r.report())

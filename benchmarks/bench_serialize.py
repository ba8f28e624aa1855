"""Serialization against msgspec, pydantic and plain Python, side by side."""

import datetime as dt
import decimal
import uuid

import msgspec
import pydantic

from harness import compare
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
    return results


if __name__ == "__main__":
    for r in run():
        print(r.report())

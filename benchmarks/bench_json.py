"""JSON bytes: the zembra package's encoders against json.dumps of the dict
routes, orjson and msgspec, side by side."""

import datetime as dt
import functools
import json
import uuid

import msgspec
import orjson

from harness import compare

N = 10_000
OFFSETS = [dt.timezone.utc, dt.timezone(dt.timedelta(hours=2)), dt.timezone(dt.timedelta(hours=-5)),
           dt.timezone(dt.timedelta(hours=5, minutes=30))]


def dumps(value):
    """json.dumps writing the same text as the encoders."""
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False).encode()


@functools.cache
def model_rows():
    """values_list() rows of the Django benchmark's 12-field model, with the
    aware datetimes moved into several UTC offsets."""
    from bench_django import setup
    import zembra_django as zd

    Item = setup()[0]
    schema = zd.ModelSchema(Item)
    names = schema.field_names_list
    rows = list(Item.objects.order_by("pk").values_list(*names))
    at = names.index("created")
    rows = [row[:at] + (row[at].astimezone(OFFSETS[i % len(OFFSETS)]),) + row[at + 1:] for i, row in enumerate(rows)]
    return schema, names, rows


UTC = dt.timezone.utc
WORDS = ["plain", "café crème", "line\nbreak \"quoted\"", "日本語のテキスト", "tab\tand \\ slash", "emoji 🎉 party"]


def native_records():
    """Dicts whose every value orjson and msgspec encode natively: str
    (non-ASCII and escapes too), int, float, bool, None, nested lists and
    dicts, UUID and UTC datetimes."""
    base = dt.datetime(2024, 1, 1, tzinfo=UTC)
    return [{
        "id": i, "name": f"user{i}", "title": WORDS[i % len(WORDS)], "email": f"user{i}@example.com",
        "active": i % 2 == 0, "score": i * 0.37, "views": i * 1_000_003, "note": None if i % 3 else f"note {i}",
        "tags": ["a", "b", WORDS[i % 4]], "meta": {"level": i % 7, "ratio": i / 7, "flags": [True, None]},
        "key": uuid.UUID(int=i * 7919 + 1), "created": base + dt.timedelta(seconds=i, microseconds=i % 1000),
    } for i in range(N)]


def native_schema():
    from zembra_core import Field, Schema
    return Schema({
        "id": Field(int), "name": Field(str), "title": Field(str), "email": Field(str), "active": Field(bool),
        "score": Field(float), "views": Field(int), "note": Field(str, nullable=True), "tags": Field(list),
        "meta": Field(dict), "key": Field(uuid.UUID), "created": Field(dt.datetime),
    })


@functools.cache
def native_model_rows():
    """values_list() rows of a model whose fields hold only natively encodable
    values (no Decimal, no date), UTC datetimes."""
    from bench_django import setup
    from django.db import models
    import zembra_django as zd

    setup()

    class Plain(models.Model):
        name = models.CharField(max_length=100)
        title = models.TextField()
        quantity = models.IntegerField()
        views = models.BigIntegerField()
        rating = models.FloatField()
        active = models.BooleanField(default=True)
        created = models.DateTimeField()
        key = models.UUIDField()
        meta = models.JSONField()
        email = models.EmailField()

        class Meta:
            app_label = "bench_json"

    schema = zd.ModelSchema(Plain)
    names = schema.field_names_list
    records = native_records()
    rows = []
    for i, r in enumerate(records):
        values = {"id": i + 1, "name": r["name"], "title": r["title"], "quantity": i % 1000, "views": r["views"],
                  "rating": r["score"], "active": r["active"], "created": r["created"], "key": r["key"],
                  "meta": r["meta"], "email": r["email"]}
        rows.append(tuple(values[n] for n in names))
    return schema, names, rows


def run():
    import zembra
    import zembra_django as zd
    from bench_serialize import SCHEMA, make_records
    from zembra_core import serialize, serialize_many

    results = []
    schema, names, rows = model_rows()

    def check_rows(outs):
        ours = outs["zembra serialize_values_list_json"]
        assert ours == outs["json.dumps(serialize_values_list(rows))"]
        assert len(orjson.loads(outs["orjson.dumps(dict(zip) rows, default=str)"])) == N

    results.append(compare(
        f"serialize_values_list to JSON bytes: {N} rows of 12 fields (datetimes in 4 offsets, JSONField)",
        {"zembra serialize_values_list_json": lambda: zembra.serialize_values_list_json(rows, schema),
         "json.dumps(serialize_values_list(rows))": lambda: dumps(zd.serialize_values_list(rows, schema)),
         "orjson.dumps(dict(zip) rows, default=str)": lambda: orjson.dumps(
             [dict(zip(names, row)) for row in rows], default=str)},
        ours="zembra serialize_values_list_json", repeat=5, check=check_rows))

    records = make_records()

    def check_many(outs):
        assert outs["zembra serialize_many_json"] == outs["json.dumps(serialize_many(records))"]

    results.append(compare(
        f"serialize_many to JSON bytes: {N} dicts of 10 fields (Decimal, UUID, datetime)",
        {"zembra serialize_many_json": lambda: zembra.serialize_many_json(records, SCHEMA),
         "json.dumps(serialize_many(records))": lambda: dumps(serialize_many(records, SCHEMA)),
         "msgspec.json.encode(records)": lambda: msgspec.json.encode(records),
         "orjson.dumps(records, default=str)": lambda: orjson.dumps(records, default=str)},
        ours="zembra serialize_many_json", repeat=5, check=check_many))

    record = records[123]
    encoder = msgspec.json.Encoder()
    results.append(compare(
        "serialize to JSON bytes: one dict of 10 fields (typed route)",
        {"zembra serialize_json": lambda: zembra.serialize_json(record, SCHEMA),
         "json.dumps(serialize(record))": lambda: dumps(serialize(record, SCHEMA)),
         "msgspec Encoder.encode(record)": lambda: encoder.encode(record),
         "orjson.dumps(record, default=str)": lambda: orjson.dumps(record, default=str)},
        ours="zembra serialize_json", repeat=5))

    # Natively encodable values only: the peers need no default.
    plain = native_records()
    plain_schema = native_schema()

    def check_plain(outs):
        ours = outs["zembra serialize_many_json"]
        assert ours == outs["json.dumps(serialize_many(records))"]
        assert orjson.loads(ours) == orjson.loads(outs["orjson.dumps(records)"])

    results.append(compare(
        f"serialize_many to JSON bytes: {N} dicts of 12 natively encodable fields",
        {"zembra serialize_many_json": lambda: zembra.serialize_many_json(plain, plain_schema),
         "json.dumps(serialize_many(records))": lambda: dumps(serialize_many(plain, plain_schema)),
         "msgspec.json.encode(records)": lambda: msgspec.json.encode(plain),
         "orjson.dumps(records)": lambda: orjson.dumps(plain)},
        ours="zembra serialize_many_json", repeat=5, check=check_plain))

    one = plain[123]
    results.append(compare(
        "serialize to JSON bytes: one dict of 12 natively encodable fields (typed route)",
        {"zembra serialize_json": lambda: zembra.serialize_json(one, plain_schema),
         "msgspec Encoder.encode(record)": lambda: encoder.encode(one),
         "orjson.dumps(record)": lambda: orjson.dumps(one)},
        ours="zembra serialize_json", repeat=5))

    plain_model, plain_names, plain_rows = native_model_rows()
    plain_dicts = [dict(zip(plain_names, row)) for row in plain_rows]

    def check_plain_rows(outs):
        ours = outs["zembra serialize_values_list_json"]
        assert ours == dumps(zd.serialize_values_list(plain_rows, plain_model))
        assert len(orjson.loads(outs["orjson.dumps(dict rows)"])) == N

    results.append(compare(
        f"serialize_values_list to JSON bytes: {N} rows of 11 natively encodable fields",
        {"zembra serialize_values_list_json": lambda: zembra.serialize_values_list_json(plain_rows, plain_model),
         "msgspec.json.encode(dict rows)": lambda: msgspec.json.encode(plain_dicts),
         "orjson.dumps(dict rows)": lambda: orjson.dumps(plain_dicts)},
        ours="zembra serialize_values_list_json", repeat=5, check=check_plain_rows))
    return results


if __name__ == "__main__":
    for r in run():
        print(r.report())

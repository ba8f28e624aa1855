"""JSON bytes: the zembra package's encoders against json.dumps of the dict
routes, orjson and msgspec, side by side."""

import datetime as dt
import functools
import json

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

    Item = setup()
    schema = zd.ModelSchema(Item)
    names = schema.field_names_list
    rows = list(Item.objects.order_by("pk").values_list(*names))
    at = names.index("created")
    rows = [row[:at] + (row[at].astimezone(OFFSETS[i % len(OFFSETS)]),) + row[at + 1:] for i, row in enumerate(rows)]
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
    return results


if __name__ == "__main__":
    for r in run():
        print(r.report())

"""The zembra package's JSON bytes for models: serialize_instance_json,
serialize_batch_json and serialize_values_list_json against the dict routes
followed by json.dumps, and the response class."""

import datetime as dt
import decimal
import types
import uuid

import pytest
from hypothesis import given, settings, strategies as st

import zembra
import zembra_django as zd
from django_tests.standins import StandinField, standin_model
from django_tests.test_serialize_model import SCHEMA, VALUES
from django_tests.testapp.models import Everything
from json_strategies import assert_same, dumps, floats, ints, json_values, mostly, texts, timezones, unencodable
from leakcheck import assert_no_leak

D = decimal.Decimal
TEXT = mostly(texts, ints)
KIND_VALUES = {
    "CharField": TEXT, "TextField": TEXT, "EmailField": TEXT, "URLField": TEXT, "SlugField": TEXT,
    "IntegerField": mostly(ints, floats), "BigIntegerField": mostly(ints, st.just("1")),
    "FloatField": mostly(floats | ints, st.just("1.5")),
    "DecimalField": mostly(st.decimals(), st.sampled_from(["1.5", "x", 2.5, D("1E+2"), D("1." + "9" * 30)])),
    "BooleanField": mostly(st.booleans(), ints),
    "DateField": mostly(st.dates(), st.just("2024-05-01")),
    "TimeField": mostly(st.times(), st.times(timezones=timezones) | st.just("10:00")),
    "DateTimeField": mostly(st.datetimes(timezones=timezones), st.just("2024-05-01 10:00:00")),
    "UUIDField": mostly(st.uuids(), st.sampled_from(["A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11", "nope", 5])),
    "JSONField": mostly(json_values, unencodable),
    "BinaryField": mostly(st.binary(max_size=12) | st.binary(max_size=4).map(bytearray), st.just("s")),
}
MISSING = object()


@st.composite
def models_and_records(draw):
    """A stand-in model of random fields (equal names included) and records
    of random values, some absent, as instances and as rows."""
    specs = draw(st.lists(st.tuples(st.sampled_from(["a", "b", "é", "z😀", "q\"\\"]), st.sampled_from(list(KIND_VALUES)),
                                    st.booleans(), st.booleans()), min_size=1, max_size=6))
    schema = zd.ModelSchema(standin_model(*(StandinField(name, kind, null=null, default=default)
                                            for name, kind, null, default in specs)))
    rows = []
    for _ in range(draw(st.integers(1, 3))):
        rows.append([draw(st.just(MISSING) | st.none()) if draw(st.integers(0, 9)) == 0
                     else draw(KIND_VALUES[kind]) for _, kind, _, _ in specs])
    return schema, [name for name, *_ in specs], rows


def instance_of(names, row):
    # With equal names the later attribute wins, as it would on a model.
    return types.SimpleNamespace(**{name: value for name, value in zip(names, row) if value is not MISSING})


def row_of(row):
    width = next((i for i, v in enumerate(row) if v is MISSING), len(row))
    return tuple(row[:width])  # a missing value ends the row


@settings(max_examples=300, deadline=None)
@given(models_and_records())
def test_model_routes_are_the_dict_routes_then_dumps(case):
    schema, names, rows = case
    instances = [instance_of(names, row) for row in rows]
    assert_same(lambda: zembra.serialize_instance_json(instances[0], schema),
                lambda: dumps(zd.serialize_instance(instances[0], schema)))
    assert_same(lambda: zembra.serialize_batch_json(instances, schema),
                lambda: dumps(zd.serialize_batch(instances, schema)))
    tuples = [row_of(row) for row in rows]
    assert_same(lambda: zembra.serialize_values_list_json(tuples, schema),
                lambda: dumps(zd.serialize_values_list(tuples, schema)))


@pytest.fixture(scope="module")
def saved(db):
    Everything.objects.all().delete()
    offsets = [dt.timezone(dt.timedelta(minutes=m)) for m in (0, 120, -330, 765)]
    for i, tz in enumerate(offsets):
        Everything.objects.create(**{**VALUES, "count": i, "created": dt.datetime(2024, 5, 1, 23, 59, tzinfo=tz),
                                     "data": [{"ü": 2**70, "a": [1.5, None]}, "\U0001f600"][i % 2]})
    return list(Everything.objects.order_by("pk"))


def test_rows_and_instances_from_the_database(saved):
    names = SCHEMA.field_names_list
    rows = list(Everything.objects.order_by("pk").values_list(*names))
    named = list(Everything.objects.order_by("pk").values_list(*names, named=True))
    expected = dumps(zd.serialize_values_list(rows, SCHEMA))
    assert zembra.serialize_values_list_json(rows, SCHEMA) == zembra.serialize_values_list_json(named, SCHEMA) \
        == zembra.serialize_batch_json(saved, SCHEMA) == expected
    assert zembra.serialize_instance_json(saved[1], SCHEMA) == dumps(zd.serialize_instance(saved[1], SCHEMA))


def test_arguments_are_checked_like_the_dict_routes():
    with pytest.raises(TypeError) as info:
        zembra.serialize_values_list_json(Everything.objects.all(), SCHEMA)
    assert str(info.value) == "'QuerySet' object is not an instance of 'list'"
    assert info.value.__notes__ == ["while processing 'rows'"]
    with pytest.raises(TypeError) as info:
        zembra.serialize_instance_json(object(), zembra_core_schema())
    assert str(info.value) == "'Schema' object is not an instance of 'ModelSchema'"


def zembra_core_schema():
    from zembra_core import Field, Schema
    return Schema({"a": Field(int)})


def test_response_takes_the_bytes_as_they_are():
    from zembra.django import JsonBytesResponse

    body = zembra.encode_json({"é": [1, D("1.50")]})
    response = JsonBytesResponse(body, status=201)
    assert response.content == body == '{"é":[1,"1.50"]}'.encode()
    assert response["Content-Type"] == "application/json" and response.status_code == 201
    with pytest.raises(TypeError, match="encoded JSON bytes"):
        JsonBytesResponse({"a": 1})


GOOD = types.SimpleNamespace(**VALUES)
ROW = tuple(VALUES[name] for name in SCHEMA.field_names_list)


@pytest.mark.parametrize("call", [
    lambda: zembra.serialize_instance_json(GOOD, SCHEMA),
    lambda: zembra.serialize_instance_json(types.SimpleNamespace(**{**VALUES, "ratio": float("inf")}), SCHEMA),
    lambda: zembra.serialize_instance_json(types.SimpleNamespace(**{**VALUES, "data": {1j}}), SCHEMA),
    lambda: zembra.serialize_batch_json([GOOD, GOOD, types.SimpleNamespace()], SCHEMA),
    lambda: zembra.serialize_values_list_json([ROW, ROW], SCHEMA),
    lambda: zembra.serialize_values_list_json([ROW[:3]], SCHEMA),
])
def test_no_leaks(call):
    assert_no_leak(call, SCHEMA, GOOD, ROW, per_round=200)

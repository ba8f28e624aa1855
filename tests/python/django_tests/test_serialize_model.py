"""serialize_instance, serialize_batch and serialize_values_list, against
real Django instances and rows, and conversions by Django field type."""

import datetime as dt
import decimal
import json
import sys
import types
import uuid

import pytest

import zembra_django as zd
from django_tests.standins import StandinField, standin_model
from django_tests.testapp.models import Everything, Ordered

D = decimal.Decimal
PLUS2 = dt.timezone(dt.timedelta(hours=2))
KEY = uuid.UUID("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11")
VALUES = dict(title="héllo", body="b", count=-5, small=3, positive=None, big=2**40, ratio=0.5, price=D("12.5"),
              active=True, day=dt.date(2024, 5, 1), at=dt.time(10, 0, 0, 500000),
              created=dt.datetime(2024, 5, 1, 10, 0, tzinfo=PLUS2), key=KEY,
              data={"b": 1, "a": [2, 3], "big": 2**63, "huge": 2**70}, blob=b"abc", raw=None, email="a@example.com",
              site="https://example.com", slug="s-1")
EXPECTED = dict(active=True, at="10:00:00.500", big=2**40, blob="YWJj", body="b", count=-5,
                created="2024-05-01T08:00:00+00:00", data={"a": [2, 3], "b": 1, "big": 2**63, "huge": 2**70},
                day="2024-05-01", email="a@example.com", key=str(KEY), positive=None, price="12.50", ratio=0.5, raw=None,
                site="https://example.com", slug="s-1", small=3, title="héllo")
SCHEMA = zd.ModelSchema(Everything)


@pytest.fixture(scope="module")
def saved(db):
    Everything.objects.all().delete()
    for i in range(3):
        Everything.objects.create(**{**VALUES, "count": i})
    return list(Everything.objects.order_by("pk"))


def test_loaded_instances(saved):
    out = zd.serialize_instance(saved[0], SCHEMA)
    assert out == {**EXPECTED, "count": 0} and list(out) == sorted(EXPECTED)
    assert list(out["data"]) == ["a", "b", "big", "huge"] and type(out["data"]["big"]) is int
    batch = zd.serialize_batch(saved, SCHEMA)
    assert batch == [{**EXPECTED, "count": i} for i in range(3)]


def test_values_list_rows_plain_and_named(saved):
    qs = Everything.objects.order_by("pk").values_list(*SCHEMA.field_names_list)
    plain, named = zd.serialize_values_list(list(qs), SCHEMA), zd.serialize_values_list(list(qs.values_list(
        *SCHEMA.field_names_list, named=True)), SCHEMA)
    assert plain == named == zd.serialize_batch(saved, SCHEMA)
    with pytest.raises(TypeError) as info:
        zd.serialize_values_list(qs, SCHEMA)
    assert info.value.__notes__ == ["while processing 'rows'"]
    with pytest.raises(TypeError, match="'QuerySet' object is not an instance of 'list'"):
        zd.serialize_batch(Everything.objects.all(), SCHEMA)


def test_keys_in_byte_order_and_null_handling():
    schema = zd.ModelSchema(Ordered)
    rec = types.SimpleNamespace(zeta=1, alpha=None, mid="x")
    assert list(zd.serialize_instance(rec, schema)) == ["alpha", "mid", "zeta"]
    assert zd.serialize_instance(types.SimpleNamespace(zeta=None), schema) == {"alpha": None, "mid": None,
                                                                              "zeta": None}
    with pytest.raises(ValueError) as info:
        zd.serialize_instance(types.SimpleNamespace(alpha="a", mid="m"), schema)
    assert str(info.value) == "field 'zeta' is required but received null"

    class RaisingNullable:
        zeta = 1

        @property
        def alpha(self):
            raise AttributeError("gone")
    assert zd.serialize_instance(RaisingNullable(), schema)["alpha"] is None


def one(type_, value, **kw):
    return zd.serialize_fields([{"name": "v", "type": type_, "nullable": False, "has_default": False, **kw}],
                               {"v": value})["v"]


class Str:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text

    def isoformat(self):
        return self.text


@pytest.mark.parametrize("type_,value,expected", [
    ("IntegerField", True, 1),
    ("BigIntegerField", 2**63 - 1, 2**63 - 1),
    ("FloatField", 3, 3.0),
    ("DecimalField", D("1E+2"), "100"),
    ("DecimalField", D("-1E-7"), "-0.0000001"),
    ("DecimalField", 0.1, "0.1"),
    ("DecimalField", "0." + "1" * 27 + "15", "0." + "1" * 27 + "2"),
    ("DecimalField", "79228162514264337593543950335.4", "79228162514264337593543950335"),
    ("BooleanField", True, True),
    ("DateField", dt.date(2024, 5, 1), "2024-05-01"),
    ("TimeField", dt.time(10, 0, 0, 123456), "10:00:00.123456"),
    ("TimeField", Str("10:00"), None),
    ("DateTimeField", dt.datetime(2024, 5, 1, 10, 0), "2024-05-01T10:00:00+00:00"),
    ("DateTimeField", Str("2024-05-01T10:00:00Z"), "2024-05-01T10:00:00+00:00"),
    ("UUIDField", str(KEY).upper(), str(KEY)),
    ("JSONField", [1, "a", None], [1, "a", None]),
    ("JSONField", {"k": (1, 2), 3: 4}, {"3": 4, "k": [1, 2]}),
    ("JSONField", {"x": D("1.5")}, None),
    ("BinaryField", memoryview(b"ab"), "YWI="),
    ("SlugField", type("S", (str,), {})("s"), "s"),
])
def test_conversions(type_, value, expected):
    if expected is None:
        with pytest.raises((ValueError, TypeError)):
            one(type_, value)
        return
    out = one(type_, value)
    assert out == expected and type(out) is type(expected)


@pytest.mark.parametrize("type_,value,exc,message", [
    ("IntegerField", "12", TypeError, "type conversion error: expected int, got str"),
    ("IntegerField", 2**63, TypeError, "type conversion error: expected int, got int"),
    ("BigIntegerField", 1.5, TypeError, "type conversion error: expected int (i64), got float"),
    ("BooleanField", 1, TypeError, "type conversion error: expected bool, got int"),
    ("TextField", b"x", TypeError, "type conversion error: expected str, got bytes"),
    ("CharField", "\ud800", TypeError, "type conversion error: expected str, got str"),
    ("BinaryField", "abc", TypeError, "type conversion error: expected bytes, got str"),
    ("BinaryField", [256], TypeError, "type conversion error: expected bytes, got list"),
    ("DecimalField", Str(5), TypeError, "type conversion error: expected Decimal (via str), got Str"),
    ("DateField", "2024-05-01", TypeError, "type conversion error: expected date, got str"),
    ("UUIDField", Str(None), TypeError, "type conversion error: expected UUID, got Str"),
    ("DecimalField", "abc", ValueError, "serialization error on field 'v': cannot parse 'abc' as Decimal"),
    ("DecimalField", D("1E+40"), ValueError, "serialization error on field 'v': cannot parse '1E+40' as Decimal"),
    ("DecimalField", "79228162514264337593543950335.5", ValueError,
     "serialization error on field 'v': cannot parse '79228162514264337593543950335.5' as Decimal"),
    ("DecimalField", D("NaN"), ValueError, "serialization error on field 'v': cannot parse 'NaN' as Decimal"),
    ("DateField", dt.datetime(2024, 5, 1, 10), ValueError,
     "serialization error on field 'v': cannot parse '2024-05-01T10:00:00' as date"),
    ("TimeField", dt.time(10, tzinfo=PLUS2), ValueError,
     "serialization error on field 'v': cannot parse '10:00:00+02:00' as time"),
    ("DateTimeField", Str("2024-05-01 10:00:00"), ValueError,
     "serialization error on field 'v': cannot parse '2024-05-01 10:00:00' as datetime"),
    ("UUIDField", 1234, ValueError, "serialization error on field 'v': cannot parse '1234' as UUID"),
    ("JSONField", {1, 2}, ValueError,
     "serialization error on field 'v': json.dumps failed: TypeError: Object of type set is not JSON serializable"),
    ("JSONField", [float("nan")], ValueError,
     "serialization error on field 'v': invalid JSON: expected value at line 1 column 2"),
    ("FloatField", float("-inf"), ValueError, "serialization error on field '<batch>': serialization error on field "
                                              "'v': float value -inf is not representable in JSON (NaN/Infinity)"),
])
def test_conversion_failures(type_, value, exc, message):
    with pytest.raises(exc) as info:
        one(type_, value)
    assert str(info.value) == message


def test_json_module_failures(monkeypatch):
    monkeypatch.setattr(json, "dumps", lambda value: b"[]")
    with pytest.raises(ValueError) as info:
        one("JSONField", {1})
    assert str(info.value) == "json.dumps returned non-string: TypeError: 'bytes' object is not an instance of 'str'"
    monkeypatch.setitem(sys.modules, "json", None)
    with pytest.raises(ValueError) as info:
        one("JSONField", {1})
    assert str(info.value) == ("cannot import json module: ModuleNotFoundError: import of json halted; "
                               "None in sys.modules")


def test_read_failures_win_over_non_finite_floats():
    model = standin_model(StandinField("f", "FloatField"), StandinField("n", "IntegerField"))
    with pytest.raises(TypeError):
        zd.serialize_instance(types.SimpleNamespace(f=float("nan"), n="x"), zd.ModelSchema(model))


class Row:
    def __init__(self, *items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]


ROW_SCHEMA = zd.ModelSchema(Ordered)  # zeta int required, alpha str nullable, mid text with default


@pytest.mark.parametrize("row,expected", [
    ((1, "a", "m"), {"alpha": "a", "mid": "m", "zeta": 1}),
    ([1, "a", "m", "extra"], {"alpha": "a", "mid": "m", "zeta": 1}),
    ((1, "a"), {"alpha": "a", "mid": None, "zeta": 1}),
    ((1,), {"alpha": None, "mid": None, "zeta": 1}),
    (Row(1, None, "m"), {"alpha": None, "mid": "m", "zeta": 1}),
    ({0: 1, 2: "m"}, {"alpha": None, "mid": "m", "zeta": 1}),
    (type("T", (tuple,), {"__getitem__": lambda self, i: 7 if i == 0 else None})((1, "a")),
     {"alpha": None, "mid": None, "zeta": 7}),
    ((), ValueError), ((None, "a"), ValueError), (5, ValueError), (("a", 1, "m"), TypeError),
])
def test_rows(row, expected):
    if isinstance(expected, type):
        with pytest.raises(expected) as info:
            zd.serialize_values_list([row], ROW_SCHEMA)
        if expected is ValueError:
            assert str(info.value) == "field 'zeta' is required but received null"
        return
    assert zd.serialize_values_list([row], ROW_SCHEMA) == [expected]


def test_batches_stop_at_the_first_failure_and_tolerate_shrinking():
    good = types.SimpleNamespace(zeta=1, alpha="a", mid="m")
    with pytest.raises(TypeError):
        zd.serialize_batch([good, good, types.SimpleNamespace(zeta="x")], ROW_SCHEMA)
    assert zd.serialize_batch([], ROW_SCHEMA) == [] and zd.serialize_values_list([], ROW_SCHEMA) == []
    rows = []

    class Clearing:
        def __index__(self):
            rows.clear()
            return 3
    rows.extend([(Clearing(), "a", "m"), (2, "b", "m"), (3, "c", "m")])
    assert zd.serialize_values_list(rows, ROW_SCHEMA) == [{"alpha": "a", "mid": "m", "zeta": 3}]


def test_interrupts_and_panics_are_not_absorbed(testing_module, panic_exception):
    class Interrupting:
        @property
        def zeta(self):
            raise KeyboardInterrupt

    class PanickingRow:
        def __getitem__(self, i):
            testing_module.fault("row")

    with pytest.raises(KeyboardInterrupt):
        zd.serialize_instance(Interrupting(), ROW_SCHEMA)
    with pytest.raises(panic_exception):
        zd.serialize_values_list([PanickingRow()], ROW_SCHEMA)

"""Aware datetimes read from their own fields and UTC offset, against the
text route (isoformat() read back) that subclasses still take, on every route
of both modules; and JSON values copied without the json.dumps text."""

import datetime as dt
import json
import types
import zoneinfo

import pytest
from hypothesis import given, settings, strategies as st

import zembra_django as zd
from django_tests.standins import StandinField, standin_model
from leakcheck import assert_no_leak
from zembra_core import Field, Schema, serialize, serialize_many, validate, validate_many

UTC = dt.timezone.utc
CORE = Schema({"v": Field(dt.datetime)})
MODEL = zd.ModelSchema(standin_model(StandinField("v", "DateTimeField")))


class Sub(dt.datetime):
    """Not the exact type: read through its isoformat() text."""


Sub.__qualname__ = "datetime"  # messages name the type


def as_sub(value):
    return Sub(value.year, value.month, value.day, value.hour, value.minute, value.second, value.microsecond,
               tzinfo=value.tzinfo, fold=value.fold)


def outcome(fn, *args):
    try:
        return "ok", fn(*args)
    except BaseException as exc:  # interrupts too: they must come out the same way
        return type(exc).__name__, str(exc)


ROUTES = {
    "serialize": lambda v: serialize({"v": v}, CORE),
    "serialize_many (dict)": lambda v: serialize_many([{"v": v}], CORE),
    "serialize_many (object)": lambda v: serialize_many([types.SimpleNamespace(v=v)], CORE),
    "validate": lambda v: validate({"v": v}, CORE),
    "validate_many": lambda v: validate_many([{"v": v}], CORE),
    "serialize_instance": lambda v: zd.serialize_instance(types.SimpleNamespace(v=v), MODEL),
    "serialize_batch": lambda v: zd.serialize_batch([types.SimpleNamespace(v=v)], MODEL),
    "serialize_values_list": lambda v: zd.serialize_values_list([(v,)], MODEL),
    "validate_instance": lambda v: zd.validate_instance(types.SimpleNamespace(v=v), MODEL),
}


def assert_routes_agree(value):
    """Every route gives for the exact datetime what it gives for the same
    value read through its text."""
    for name, route in ROUTES.items():
        assert outcome(route, value) == outcome(route, as_sub(value)), name


def check_instant(value):
    out = outcome(serialize, {"v": value}, CORE)
    try:
        utc = value.astimezone(UTC)
    except OverflowError:  # the instant leaves the years 1 to 9999
        assert out[0] == "TypeError" and "instant is out of range" in out[1]
        return
    assert dt.datetime.fromisoformat(out[1]["v"]) == utc
    assert serialize_many([{"v": value}], CORE)[0]["v"] == value.isoformat()


# Offsets of whole minutes, seconds and microseconds, strictly inside a day.
offsets = st.timedeltas(min_value=dt.timedelta(hours=-24, microseconds=1),
                        max_value=dt.timedelta(hours=24, microseconds=-1)).map(dt.timezone)


@settings(max_examples=300, deadline=None)
@given(st.datetimes(timezones=offsets))
def test_fixed_offsets_match_the_text_route(value):
    check_instant(value)
    assert_routes_agree(value)


@settings(max_examples=300, deadline=None)
@given(st.datetimes(min_value=dt.datetime(1800, 1, 1), max_value=dt.datetime(2100, 1, 1),
                    timezones=st.timezones()), st.booleans())
def test_zoneinfo_across_changes_and_fold_matches_the_text_route(value, fold):
    value = value.replace(fold=fold)
    check_instant(value)
    assert_routes_agree(value)


def test_offset_with_seconds_reads_on_every_route():
    # isoformat() ends in +00:19:32; the text route could not read it before.
    value = dt.datetime(1890, 1, 1, 12, tzinfo=zoneinfo.ZoneInfo("Europe/Amsterdam"))
    assert serialize({"v": value}, CORE)["v"] == "1890-01-01T11:40:28+00:00"
    assert zd.serialize_instance(types.SimpleNamespace(v=value), MODEL)["v"] == "1890-01-01T11:40:28+00:00"
    assert zd.validate_instance(types.SimpleNamespace(v=value), MODEL)["is_valid"]
    assert_routes_agree(value)


@pytest.mark.parametrize("value", [
    dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=2))),
    dt.datetime(9999, 12, 31, 23, tzinfo=dt.timezone(dt.timedelta(hours=-2))),
])
def test_instants_outside_years_1_to_9999_fail(value):
    message = "instant is out of range (outside years 1 to 9999 in UTC)"
    for route in ("serialize", "validate", "serialize_many (object)"):
        with pytest.raises(TypeError) as info:
            ROUTES[route](value)
        assert str(info.value) == f"type error on field 'v': expected datetime, got could not parse: {message}"
    for route in ("serialize_instance", "serialize_batch", "serialize_values_list", "validate_instance"):
        with pytest.raises(ValueError) as info:
            ROUTES[route](value)
        assert str(info.value) == (f"serialization error on field 'v': cannot parse '{value.isoformat()}' "
                                   f"as datetime: {message}")
    assert serialize_many([{"v": value}], CORE) == [{"v": value.isoformat()}]
    assert_routes_agree(value)


class Zone(dt.tzinfo):
    def __init__(self, result):
        self.result = result

    def utcoffset(self, value):
        if isinstance(self.result, BaseException):
            raise type(self.result)(*self.result.args)  # a fresh one: a raised one keeps its traceback
        return self.result


class LongDelta(dt.timedelta):
    pass


@pytest.mark.parametrize("result", [
    ValueError("boom"), KeyboardInterrupt(), None, 5, "+02:00", dt.timedelta(hours=24), dt.timedelta(days=-1),
    dt.timedelta(hours=-24, microseconds=1), LongDelta(hours=3, seconds=7), dt.timedelta(seconds=0.5),
], ids=repr)
def test_tzinfos_with_odd_offsets_fail_as_isoformat_does(result):
    assert_routes_agree(dt.datetime(2024, 5, 1, 10, tzinfo=Zone(result)))


def test_fixed_offsets_are_learned_per_timezone_object():
    # More timezone objects than the table of learned offsets holds, each a
    # fresh object of an offset seen before: every value still reads right.
    zones = [dt.timezone(dt.timedelta(minutes=m)) for m in range(-600, 600, 17)] * 2
    values = [dt.datetime(2024, 5, 1, 10, tzinfo=z) for z in zones]
    out = serialize_many([types.SimpleNamespace(v=v) for v in values], CORE)
    assert [dt.datetime.fromisoformat(o["v"]) for o in out] == values
    assert serialize_many([{"v": v} for v in values], CORE) == [{"v": v.isoformat()} for v in values]


json_values = st.recursive(
    st.none() | st.booleans() | st.integers(-2**63, 2**63 - 1) | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(),
    lambda children: st.lists(children) | st.tuples(children, children) | st.dictionaries(st.text(), children),
    max_leaves=40)


def shares_a_container(a, b):
    if isinstance(a, (list, dict)) and a is b:
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return any(shares_a_container(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, (list, tuple)):
        return any(shares_a_container(x, y) for x, y in zip(a, b))
    return False


@settings(max_examples=300, deadline=None)
@given(json_values)
def test_json_copies_match_the_interpreter_in_key_order_too(value):
    expected = json.dumps(json.loads(json.dumps([value], sort_keys=True)))
    core = serialize({"v": [value]}, Schema({"v": Field(list)}))["v"]
    model = zd.serialize_values_list([([value],)], zd.ModelSchema(standin_model(StandinField("v", "JSONField"))))
    for out in (core, model[0]["v"]):
        assert json.dumps(out) == expected  # same values, same key order at every level
        assert not shares_a_container(out, [value])


@pytest.mark.parametrize("call", [
    lambda: serialize({"v": dt.datetime(2024, 5, 1, tzinfo=dt.timezone(dt.timedelta(seconds=7)))}, CORE),
    lambda: serialize_many([{"v": dt.datetime(2024, 5, 1, tzinfo=zoneinfo.ZoneInfo("Asia/Kolkata"))}], CORE),
    lambda: serialize({"v": dt.datetime(1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=2)))}, CORE),
    lambda: zd.serialize_instance(types.SimpleNamespace(v=dt.datetime(2024, 5, 1, tzinfo=Zone(5))), MODEL),
    lambda: validate_many([{"v": dt.datetime(2024, 5, 1, tzinfo=Zone(ValueError("x")))}], CORE),
    lambda: serialize({"v": [{"b": [1, {"z": 1, "a": (2,)}], "a": "x" * 40}]}, Schema({"v": Field(list)})),
])
def test_new_readers_do_not_leak(call):
    assert_no_leak(call, per_round=300)

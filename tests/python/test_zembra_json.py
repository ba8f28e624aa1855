"""The zembra package's JSON bytes: byte for byte and error for error the
dict route followed by json.dumps(..., ensure_ascii=False, compact,
allow_nan=False).encode()."""

import datetime as dt
import decimal
import subprocess
import sys
import types
import uuid

import pytest
from hypothesis import given, settings, strategies as st

import zembra
from json_strategies import assert_same, dumps, floats, ints, json_values, mostly, texts, timezones, unencodable
from leakcheck import assert_no_leak
from zembra_core import Field, Schema, serialize, serialize_many

D = decimal.Decimal
UTC = dt.timezone.utc


KIND_VALUES = {
    str: mostly(texts, ints),
    int: mostly(ints, floats),
    float: mostly(floats | ints, st.just("1")),
    bool: mostly(st.booleans(), ints),
    D: mostly(st.decimals(), st.decimals(places=3) | st.sampled_from(["1.5", "1e3", D("1E+2"), D("1E-30"), 2.5])),
    dt.datetime: mostly(st.datetimes(timezones=timezones), st.just("2024-05-01T10:00:00+02:00")),
    dt.date: mostly(st.dates(), st.just("2024-02-30")),
    dt.time: mostly(st.times(), st.just(dt.time(1, tzinfo=UTC))),
    uuid.UUID: mostly(st.uuids(), st.sampled_from(["{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}", "nope"])),
    list: mostly(json_values, unencodable),
    dict: mostly(json_values, unencodable),
    bytes: mostly(st.binary(max_size=20) | st.binary(max_size=5).map(bytearray), st.lists(st.integers(-1, 256), max_size=3)),
}


@st.composite
def schemas_and_records(draw, as_dicts):
    kinds = draw(st.lists(st.sampled_from(list(KIND_VALUES)), min_size=1, max_size=6))
    names = draw(st.lists(texts.filter(lambda s: not any("\ud800" <= c <= "\udfff" for c in s)),
                          min_size=len(kinds), max_size=len(kinds), unique=True))
    fields = {n: Field(k, nullable=draw(st.booleans())) for n, k in zip(names, kinds)}
    records = []
    for _ in range(draw(st.integers(1, 3))):
        values = {n: draw(st.none()) if draw(st.integers(0, 9)) == 0 else draw(KIND_VALUES[k])
                  for n, k in zip(names, kinds) if draw(st.integers(0, 9))}
        if as_dicts and draw(st.booleans()):
            values.update(draw(st.dictionaries(mostly(texts, st.integers()), mostly(json_values, unencodable), max_size=2)))
        records.append(values if as_dicts and draw(st.booleans()) else types.SimpleNamespace(**{
            k: v for k, v in values.items() if isinstance(k, str)}))
    return Schema(fields), records


@settings(max_examples=300, deadline=None)
@given(schemas_and_records(as_dicts=False))
def test_serialize_json_is_serialize_then_dumps(case):
    schema, records = case
    assert_same(lambda: zembra.serialize_json(records[0], schema), lambda: dumps(serialize(records[0], schema)))


@settings(max_examples=300, deadline=None)
@given(schemas_and_records(as_dicts=True))
def test_serialize_many_json_is_serialize_many_then_dumps(case):
    schema, records = case
    assert_same(lambda: zembra.serialize_many_json(records, schema),
                lambda: dumps(serialize_many(records, schema)))


def typed_default(value):
    """The typed route's text form, as a default= for json.dumps; its errors
    worded without a field."""
    for cls, kind in [(dt.datetime, dt.datetime), (dt.date, dt.date), (dt.time, dt.time), (D, D),
                      (uuid.UUID, uuid.UUID), ((bytes, bytearray), bytes)]:
        if isinstance(value, cls):
            try:
                return serialize({"v": value}, Schema({"v": Field(kind)}))["v"]
            except TypeError as exc:
                prefix = f"type error on field 'v': expected {kind.__name__}, got "
                assert str(exc).startswith(prefix)
                raise TypeError(f"cannot encode {kind.__name__} value: {str(exc)[len(prefix):]}") from None
    raise TypeError(f"Object of type {value.__class__.__name__} is not JSON serializable")


typed_values = (st.decimals(allow_nan=False, allow_infinity=False, places=4) | st.uuids() | st.dates()
                | st.datetimes(timezones=timezones) | st.times() | st.binary(max_size=8)
                | st.binary(max_size=8).map(bytearray))


@settings(max_examples=300, deadline=None)
@given(st.recursive(json_values | typed_values | unencodable,
                    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(texts, inner, max_size=3),
                    max_leaves=10))
def test_encode_json_is_dumps_with_typed_forms(value):
    assert_same(lambda: zembra.encode_json(value), lambda: dumps(value, default=typed_default))


class Weird:
    class Items(dict):
        def items(self):
            return [("b", 1), ("a", [2])]

    class BadItems(dict):
        def items(self):
            return [1]

    class Iter(list):
        def __iter__(self):
            return iter([9])

    class Float(float):
        def __repr__(self):
            return "F!"

    class Int(int):
        pass

    class Str(str):
        def __str__(self):
            return "not me"


def nested(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


DEEP = nested(200)  # beyond the levels the circularity check scans one by one
cyclic_list, cyclic_dict = [1], {"a": 1}
cyclic_list.append([cyclic_list])
cyclic_dict["self"] = cyclic_dict


def deep_cycle(depth, back_to):
    """Lists in dicts, depth levels down, the last one holding the list of
    level back_to."""
    top = current = []
    levels = []
    for _ in range(depth):
        child = []
        current.append({"k": child})
        levels.append(child)
        current = child
    current.append(levels[back_to])
    return top


@pytest.mark.parametrize("value", [
    Weird.Items(x=1), Weird.BadItems(x=1), Weird.BadItems(), Weird.Iter([1, 2]), [Weird.Float("nan")],
    [Weird.Float(1.5)], Weird.Int(7), {Weird.Int(3): Weird.Str("s")}, {float("inf"): 1}, {10**30: 1},
    10**5000, nested(300), nested(100_000), cyclic_list, cyclic_dict, [[]] * 3, {"": {}}, deep_cycle(60, 40),
], ids=lambda value: type(value).__name__)
def test_encode_json_follows_the_json_module(value):
    assert_same(lambda: zembra.encode_json(value), lambda: dumps(value))


class ChangingZone(dt.tzinfo):
    """A zone whose first utcoffset() call runs change."""

    def __init__(self, change):
        self.change = change

    def utcoffset(self, when):
        change, self.change = self.change, None
        if change:
            change()
        return dt.timedelta(0)


CHANGES = {
    "clear": lambda box: box.clear(),
    "grow": lambda box: box.update(x=9) if isinstance(box, dict) else box.append(9),
    "shrink": lambda box: box.pop("c" if isinstance(box, dict) else -1),
    "move": lambda box: box.__setitem__("c", box.pop("c")) if isinstance(box, dict) else box.append(box.pop(0)),
}


@pytest.mark.parametrize("change", CHANGES)
@pytest.mark.parametrize("shape", [dict, type("Sub", (dict,), {}), list])
def test_containers_changed_while_encoded_as_the_json_module_meets_them(shape, change):
    def make():
        box = shape()
        stamp = dt.datetime(2024, 1, 1, tzinfo=ChangingZone(lambda: CHANGES[change](box)))
        items = {"a": 1, "b": stamp, "c": 2, "e": 3}
        box.extend(items.values()) if shape is list else box.update(items)
        return box

    assert_same(lambda: zembra.encode_json(make()), lambda: dumps(make(), default=typed_default))


@pytest.mark.parametrize("value,message", [
    (D("NaN"), "cannot encode Decimal value: invalid decimal string: "),
    (D("1E+40"), "cannot encode Decimal value: invalid decimal string: "),
    (dt.time(1, tzinfo=UTC), "cannot encode time value: could not parse: "),
])
def test_encode_json_refuses_what_the_typed_route_refuses(value, message):
    with pytest.raises(TypeError) as info:
        zembra.encode_json([value])
    assert str(info.value).startswith(message)


def test_surrogates_fail_only_after_everything_else():
    schema = Schema({"d": Field(D)})
    # The json module's error comes first in the list, the route's later: the
    # route's wins; a surrogate only fails when nothing else does.
    records = [{"d": D(1), "x": "\ud800"}, {"d": D(2), "x": float("nan")}, {"d": "bad"}]
    assert_same(lambda: zembra.serialize_many_json(records, schema), lambda: dumps(serialize_many(records, schema)))
    assert_same(lambda: zembra.serialize_many_json(records[:2], schema),
                lambda: dumps(serialize_many(records[:2], schema)))
    assert_same(lambda: zembra.serialize_many_json(records[:1], schema),
                lambda: dumps(serialize_many(records[:1], schema)))
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed"):
        zembra.serialize_many_json(records[:1], schema)


def test_arguments_are_checked_like_the_dict_routes():
    with pytest.raises(TypeError) as info:
        zembra.serialize_json({}, {"a": Field(int)})
    assert str(info.value) == "'dict' object is not an instance of 'Schema'"
    assert info.value.__notes__ == ["while processing 'schema'"]
    with pytest.raises(TypeError, match="'tuple' object is not an instance of 'list'"):
        zembra.serialize_many_json((), Schema({}))
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'schema'"):
        zembra.serialize_json({})
    assert zembra.serialize_many_json([], Schema({})) == b"[]"
    assert zembra.serialize_json({}, Schema({})) == b"{}"


def test_import_stays_free_of_django():
    code = "import sys, zembra; print(any(m == 'django' or m.startswith('django.') for m in sys.modules))"
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          check=True).stdout.strip() == "False"
    assert issubclass(zembra.PanicException, BaseException) and not issubclass(zembra.PanicException, Exception)


ALL_KINDS = Schema({"s": Field(str), "i": Field(int), "f": Field(float), "b": Field(bool), "d": Field(D),
                    "t": Field(dt.datetime), "dd": Field(dt.date), "tm": Field(dt.time), "u": Field(uuid.UUID),
                    "l": Field(list), "m": Field(dict), "by": Field(bytes), "n": Field(str, nullable=True)})
RECORD = {"s": "x😀", "i": 1, "f": 1.5, "b": True, "d": D("1.5"), "t": dt.datetime(2024, 1, 1, tzinfo=UTC),
          "dd": dt.date(2024, 1, 1), "tm": dt.time(1), "u": uuid.uuid4(), "l": [1, {"a": 2**70}],
          "m": {"k": [1.5]}, "by": b"xyz", "extra": [float("nan")]}


@pytest.mark.parametrize("call", [
    lambda: zembra.serialize_json(RECORD, ALL_KINDS),
    lambda: zembra.serialize_json({**RECORD, "d": "bad"}, ALL_KINDS),
    lambda: zembra.serialize_json({**RECORD, "f": float("nan")}, ALL_KINDS),
    lambda: zembra.serialize_many_json([RECORD, types.SimpleNamespace(**RECORD)], ALL_KINDS),
    lambda: zembra.serialize_many_json([{**RECORD, "extra": 1}, {**RECORD, "s": "\udc00"}], ALL_KINDS),
    lambda: zembra.serialize_many_json([{**RECORD, "by": "x"}], ALL_KINDS),
    lambda: zembra.encode_json([RECORD, {1: object()}]),
    lambda: zembra.encode_json({**RECORD, "extra": cyclic_list}),
    lambda: zembra.encode_json(DEEP),
])
def test_no_leaks(call):
    assert_no_leak(call, ALL_KINDS, RECORD, per_round=200)


UTF8_EDGES = ["\x7f", "\x80", "\u07ff", "\u0800", "\ue000", "\ufffd", "\uffff", "\U00010000", "\U0010ffff"]


@pytest.mark.parametrize("char", UTF8_EDGES, ids=lambda c: f"U+{ord(c):04X}")
@pytest.mark.parametrize("length", [1, 2, 4, 15, 16, 17, 31, 32, 33])
def test_strings_at_every_utf8_length_boundary(char, length):
    schema = Schema({"v": Field(str)})
    texts = ["a" * at + char + "b" * (length - at - 1) for at in range(length)] + [char * length]
    for text in texts:
        assert zembra.encode_json(text) == dumps(text)
        assert zembra.serialize_json({"v": text}, schema) == dumps({"v": text})

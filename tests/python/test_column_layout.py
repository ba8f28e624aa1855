"""zembra._speedups.ColumnLayout: each kind's text against the interpreter's
own forms (Decimal.quantize, isoformat, Django's duration_string), the bytes
route against encode_json of the dict route, rows against instances, and
its errors."""

import datetime as dt
import decimal
import json
import types
import uuid

import pytest
from django.utils.duration import duration_string
from hypothesis import given, strategies as st

import zembra
from zembra._speedups import ColumnLayout, encode_json_plain
from json_strategies import assert_same, json_values, texts
from leakcheck import assert_no_leak

D = decimal.Decimal
UTC = dt.timezone.utc
KIND_VALUES = {
    "str": texts | st.integers(),
    "int": st.integers() | st.booleans(),
    "float": st.floats(allow_nan=False, allow_infinity=False),
    "bool": st.booleans() | st.integers(0, 2),
    "decimal": st.decimals(allow_nan=False, allow_infinity=False, places=4, min_value=-10 ** 9, max_value=10 ** 9),
    "date": st.dates(),
    "time": st.times(),
    "datetime": st.datetimes(timezones=st.just(UTC) | st.none()),
    "uuid": st.uuids(),
    "bytes": st.binary(max_size=12) | st.binary(max_size=4).map(memoryview),
    "json": json_values,
    "duration": st.timedeltas(),
    "file": texts | st.builds(types.SimpleNamespace, name=texts | st.none()),
}


def quantized(value, places):
    return format(value.quantize(D(1).scaleb(-places), rounding=decimal.ROUND_HALF_EVEN,
                                 context=decimal.Context(prec=100)), "f")


@given(st.decimals(allow_nan=False, allow_infinity=False, places=6, min_value=-10 ** 12, max_value=10 ** 12),
       st.integers(0, 8))
def test_decimals_are_quantized_half_even(value, places):
    layout = ColumnLayout([("d", "d", "decimal", {"decimal_places": places})])
    assert layout.dump({"d": value}) == {"d": quantized(value, places)}


@given(st.timedeltas())
def test_durations_are_djangos_text(value):
    assert ColumnLayout([("s", "s", "duration")]).dump({"s": value}) == {"s": duration_string(value)}


@given(st.datetimes(timezones=st.just(UTC) | st.none()), st.times())
def test_iso_forms_are_drfs(moment, clock):
    layout = ColumnLayout([("m", "m", "datetime", {"iso": True}), ("c", "c", "time", {"iso": True})])
    expected = moment.replace(tzinfo=UTC).isoformat().replace("+00:00", "Z")
    assert layout.dump({"m": moment, "c": clock}) == {"m": expected, "c": clock.isoformat()}


@st.composite
def layouts_and_records(draw):
    kinds = draw(st.lists(st.sampled_from(sorted(KIND_VALUES)), min_size=1, max_size=6))
    columns = [(f"k{i}é", f"a{i}", kind) for i, kind in enumerate(kinds)]
    records = [{f"a{i}": draw(st.none() | KIND_VALUES[kind]) for i, kind in enumerate(kinds)}
               for _ in range(draw(st.integers(0, 3)))]
    return ColumnLayout(columns), records


@given(layouts_and_records())
def test_bytes_are_encode_json_of_the_dicts(case):
    layout, records = case
    dicts = layout.dump_many(records)
    assert_same(lambda: layout.dump_many_json(records), lambda: zembra.encode_json(dicts))
    objects = [types.SimpleNamespace(**record) for record in records]
    assert layout.dump_many(objects) == dicts
    assert layout.rows(tuple(r.values()) for r in records) == dicts
    assert_same(lambda: layout.rows_json([list(r.values()) for r in records]), lambda: zembra.encode_json(dicts))
    for record, expected in zip(records, dicts):
        assert list(layout.dump(record)) == layout.keys
        assert_same(lambda: layout.dump_json(record), lambda: zembra.encode_json(expected))


def test_text_forms():
    layout = ColumnLayout([("n", "n", "int"), ("f", "f", "file"), ("b", "b", "bytes"), ("u", "u", "uuid"),
                           ("t", "t", "datetime"), ("x", "x", "str"), ("y", "y", "float"), ("z", "z", "bool")])
    record = {"n": True, "f": types.SimpleNamespace(name=""), "b": bytearray(b"abc"),
              "u": "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11", "t": dt.datetime(2024, 5, 1, 10, tzinfo=dt.timezone(
                  dt.timedelta(hours=2))), "x": D("1.5"), "y": D("0.5"), "z": []}
    assert layout.dump(record) == {"n": 1, "f": None, "b": "YWJj", "u": "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
                                   "t": "2024-05-01T08:00:00+00:00", "x": "1.5", "y": 0.5, "z": False}


def test_many_columns_read_prefetch_caches_or_ask():
    def item(pk):
        return types.SimpleNamespace(pk=pk)
    cached = types.SimpleNamespace(_prefetched_objects_cache={"tags": types.SimpleNamespace(
        _result_cache=[item(uuid.UUID(int=1)), item(None)])})
    asked = []

    def missing(instance, key):
        asked.append(key)
        return (uuid.UUID(int=2),)

    layout = ColumnLayout([("t", "t", "many", {"cache": "tags", "item_attribute": "pk", "item_kind": "uuid"})],
                          missing)
    assert layout.dump(cached) == {"t": [str(uuid.UUID(int=1)), None]}
    assert layout.dump_json(types.SimpleNamespace()) == f'{{"t":["{uuid.UUID(int=2)}"]}}'.encode()
    assert asked == ["t"]
    assert layout.rows([[[uuid.UUID(int=3)]]]) == [{"t": [str(uuid.UUID(int=3))]}]
    with pytest.raises(ValueError, match="'t': the related objects were not prefetched"):
        ColumnLayout([("t", "t", "many", {"cache": "c", "item_attribute": "pk", "item_kind": "int"})]).dump(object())


@pytest.mark.parametrize("columns, error, message", [
    ({}, TypeError, "'dict' object is not an instance of 'list'"),
    ([("a", "a")], ValueError, r"column 0: expected a tuple \(key, attribute, kind\[, options\]\)"),
    ([("a", "a", "money")], ValueError, "column 0: unknown kind 'money'"),
    ([("a", 1, "int")], TypeError, "column 0: the attribute must be a str"),
    ([("a", "a", "int", [])], ValueError, "column 0: the options must be a dict"),
    ([("a", "a", "int", {"decimal_places": 2})], ValueError, "decimal_places belongs to decimal columns"),
    ([("a", "a", "decimal", {"decimal_places": -1})], ValueError, "from 0 to 255"),
    ([("a", "a", "str", {"iso": True})], ValueError, "iso belongs to datetime and time columns"),
    ([("a", "a", "many", {})], ValueError, "needs the options cache, item_attribute and item_kind"),
    ([("a", "a", "many", {"cache": "c", "item_attribute": "pk", "item_kind": "many"})], ValueError,
     "cannot be many"),
])
def test_bad_columns(columns, error, message):
    with pytest.raises(error, match=message):
        ColumnLayout(columns)


@pytest.mark.parametrize("record, error", [
    ({"a": "x"}, TypeError), ({"a": float("nan")}, ValueError), ({}, KeyError), (object(), AttributeError),
])
def test_value_errors(record, error):
    layout = ColumnLayout([("a", "a", "duration" if error is TypeError else "float")])
    with pytest.raises(error):
        layout.dump_json(record)
    if error is not ValueError:
        with pytest.raises(error):
            layout.dump(record)


def test_encode_json_plain_refuses_what_json_cannot_encode():
    assert encode_json_plain({"a": [1, 2.5, "é", None]}) == '{"a":[1,2.5,"é",null]}'.encode()
    for value, error in ((D(1), TypeError), (float("inf"), ValueError), ("\ud800", UnicodeEncodeError)):
        with pytest.raises(error):
            encode_json_plain(value)


def test_no_leaks():
    layout = ColumnLayout([("d", "d", "decimal", {"decimal_places": 2}), ("s", "s", "duration"),
                           ("j", "j", "json"), ("m", "m", "many", {"cache": "m", "item_attribute": "pk",
                                                                  "item_kind": "int"})],
                          lambda instance, key: [1, 2])
    record = types.SimpleNamespace(d=D("1.5"), s=dt.timedelta(1), j={"a": [1]})
    rows = [(D("1"), None, [1], [3])]
    raw = [(1.25, None, '{"a": [1, 2.5, "\u00e9"], "b": null}', [3]), (2, None, "NaN", [])]

    def call():
        layout.dump(record), layout.dump_json(record), layout.dump_many([record]), layout.rows_json(rows)
        layout.raw_rows(raw, ((5, 10, 2), 0, 8, 0)), layout.raw_rows_json(raw, ((5, 10, 2), 0, 8, 0))
        layout.raw_rows([("x", None, "[", [])], ((5, 10, 2), 0, 8, 0))
        ColumnLayout([("x", "x", "nope")])

    assert_no_leak(call, layout, record, rows, raw, per_round=200)


json_texts = st.one_of(
    st.builds(lambda v, indent: json.dumps(v, indent=indent, ensure_ascii=bool(indent)),
              json_values.filter(lambda v: _plain_json(v)), st.none() | st.integers(0, 2)),
    st.sampled_from(['{"a": 1, "b": 2, "a": 3}', "[1e400]", "NaN", '"\\ud800"', "[" * 200 + "]" * 200,
                     "1" * 5000, "{", "", " [1, 2.50, -0.0, 1E2] ", '{"\\u00e9": "\\n"}']))


def _plain_json(value):
    try:
        json.dumps(value, allow_nan=False).encode()
        return True
    except (ValueError, TypeError, UnicodeEncodeError):
        return False


def loads_or_none(text):
    try:
        return "ok", repr(json.loads(text))
    except (ValueError, RecursionError):
        return None


@given(json_texts)
def test_raw_json_text_is_read_as_json_loads_reads_it(text):
    layout = ColumnLayout([("j", "j", "json")])
    expected = loads_or_none(text)
    got = layout.raw_rows([(text,)], (8,))
    if expected is None:
        assert got is None  # refused: the values_list route gives Django's answer
    else:
        assert ("ok", repr(got[0]["j"])) == expected


@pytest.mark.parametrize("raw, plan, expected", [
    ((1.005, "0123456789abcdef0123456789ABCDEF", True, 7), ((5, 10, 2), 7, 4, 0),
     {"d": "1.00", "u": "01234567-89ab-cdef-0123-456789abcdef", "b": True, "n": 7}),
    ((12, None, False, None), ((5, 10, 2), 7, 4, 0), {"d": "12.00", "u": None, "b": False, "n": None}),
])
def test_raw_readers(raw, plan, expected):
    layout = ColumnLayout([("d", "d", "decimal", {"decimal_places": 2}), ("u", "u", "uuid"), ("b", "b", "bool"),
                           ("n", "n", "int")])
    assert layout.raw_rows([raw], plan) == [expected]
    assert layout.raw_rows_json([raw], plan) == zembra.encode_json([expected])


@pytest.mark.parametrize("raw, plan", [
    (("not hex", 0, 1, 1), (7, 0, 0, 0)), ((1.5, 0, 1, 1), (4, 0, 0, 0)), (("1.5", 0, 1, 1), ((5, 10, 2), 0, 0, 0)),
    (("2024-05-01", 0, 1, 1), (1, 0, 0, 0)),
])
def test_raw_values_a_reader_does_not_expect_refuse_the_rows(raw, plan):
    layout = ColumnLayout([(k, k, "str") for k in "abcd"])
    assert layout.raw_rows([raw], plan) is None and layout.raw_rows_json([raw], plan) is None


@pytest.mark.parametrize("plan, message", [
    ((0,), "one entry per column"), ((0, 9), "unknown reader"), ((0, (5, 1)), r"\(code, max_digits"),
    ((0, (7, 1, 1)), "only they, take digits"), ((0, 5), "only they, take digits"), ((0, -1), "non-negative"),
])
def test_bad_raw_plans(plan, message):
    with pytest.raises(ValueError, match=message):
        ColumnLayout([("a", "a", "str"), ("b", "b", "str")]).raw_rows([], plan)


SKIP = object()


def record_layout():
    inner = ColumnLayout([("n", "n", "str"), ("tags", "tags", "many", {
        "cache": "tags", "item_attribute": "pk", "item_kind": "int", "group_attribute": "pk"})],
        lambda instance, key: [0])
    return ColumnLayout([
        ("a", "a", "int"),
        ("city", ("owner", "profile", "city"), "str", {"fallback": lambda o: SKIP if o.a < 0 else "fell back"}),
        ("call", "ignored", "call", {"call": 1}),
        ("owner", ("owner",), "nested", {"layout": inner}),
        ("first", "x", "call", {"call": 0}),
    ], skip=SKIP)


def person(a, owner):
    return types.SimpleNamespace(a=a, owner=owner)


def owner(city, pk=7):
    profile = None if city is None else types.SimpleNamespace(city=city)
    return types.SimpleNamespace(profile=profile, n=f"o{pk}", pk=pk)


CALLS = (lambda o: o.a * 2, lambda o: SKIP if o.a == 2 else [o.a])
RECORDS = [(person(1, owner("Oslo")), {"a": 1, "city": "Oslo", "call": [1], "owner": {"n": "o7", "tags": [0]},
                                       "first": 2}),
           (person(2, owner(None, 8)), {"a": 2, "city": "fell back", "owner": {"n": "o8", "tags": [0]}, "first": 4}),
           (person(-1, None), {"a": -1, "call": [-1], "owner": None, "first": -2}),
           (person(3, types.SimpleNamespace()), AttributeError)]


@pytest.mark.parametrize("record, expected", RECORDS)
def test_chains_calls_nested_layouts_and_groups(record, expected):
    layout = record_layout()
    if expected is AttributeError:  # a nested object without the nested layout's attributes
        with pytest.raises(AttributeError):
            layout.dump(record, CALLS)
        return
    one = layout.dump(record, CALLS, groups={"tags": {8: [5]}})  # the outer layout's groups: the nested one asks
    assert one == expected
    assert layout.dump_many([record], CALLS)[0] == one
    assert layout.dump_json(record, CALLS) == encode_json_plain(one)
    assert layout.dump_many_json([record, record], CALLS) == encode_json_plain([one, one])


def test_groups_and_calls_are_checked():
    many = ColumnLayout([("t", "t", "many", {"cache": "t", "item_attribute": "pk", "item_kind": "int",
                                             "group_attribute": "pk"})], lambda instance, key: [1])
    thing = types.SimpleNamespace(pk=3)
    assert many.dump(thing, groups={"t": {3: [4, None]}}) == {"t": [4, None]}
    assert many.dump_json(thing, groups={"t": {}}) == b'{"t":[]}'
    assert many.dump(thing, groups={"other": {}}) == {"t": [1]}
    with pytest.raises(TypeError, match="groups must"):
        many.dump(thing, groups={"t": [1]})
    with pytest.raises(TypeError, match="needs calls"):
        record_layout().dump(RECORDS[0][0])
    with pytest.raises(TypeError, match="needs objects, not rows"):
        record_layout().rows([(1, "x", 2, None, 3)])
    for columns, message in [([("a", "a", "call")], "needs the option call"),
                             ([("a", "a", "nested", {"layout": {}})], "needs the option layout"),
                             ([("a", "a", "int", {"fallback": len})], "fallback belongs to attribute chains"),
                             ([("a", (), "int")], "needs a name")]:
        with pytest.raises(ValueError, match=message):
            ColumnLayout(columns)


def test_chains_and_calls_do_not_leak():
    layout = record_layout()

    def call():
        for record, expected in RECORDS[:3]:
            layout.dump(record, CALLS, groups={"tags": {8: [5]}}), layout.dump_many_json([record], CALLS)
        try:
            layout.dump(RECORDS[3][0], CALLS)
        except AttributeError:
            pass

    assert_no_leak(call, layout, per_round=200)


class Link(str):
    """A str subclass with an obj, as DRF's Hyperlink."""


@pytest.mark.parametrize("key, negatives, expected", [
    (0, False, "/a/0/"), (2 ** 70, False, f"/a/{2 ** 70}/"), (-3, True, "/a/-3/"), (-3, False, "fallback"),
    (True, False, "fallback"), ("7", False, "fallback"), (None, False, None),
])
def test_link_calls(key, negatives, expected):
    layout = ColumnLayout([("url", "url", "call", {"call": 0})])
    thing = types.SimpleNamespace(id=key)
    calls = (("/a/", "/", Link, "id", lambda obj: "fallback", negatives),)
    value = layout.dump(thing, calls)["url"]
    assert value == expected
    if expected not in (None, "fallback"):
        assert type(value) is Link and value.obj is thing
        assert layout.dump_json(thing, calls) == encode_json_plain({"url": expected})
    with pytest.raises(TypeError, match="a link call is"):
        layout.dump(thing, (("/a/", "/", dict, "id", len, False),))
    assert_no_leak(lambda: layout.dump_many([thing, thing], calls), layout, thing, per_round=200)

"""serialize (typed route) and serialize_many (dict fast path and typed route)."""

import base64
import datetime as dt
import decimal
import json
import uuid

import pytest
from hypothesis import given, settings, strategies as st

from leakcheck import assert_no_leak
from zembra_core import Field, Schema, serialize, serialize_many

D = decimal.Decimal
UTC = dt.timezone.utc
PLUS2 = dt.timezone(dt.timedelta(hours=2))


def one(kind, value, **kw):
    """Serialize a single field named v on the typed route."""
    return serialize({"v": value}, Schema({"v": Field(kind, **kw)}))["v"]


class Obj:
    def __init__(self, **kw):
        self.__dict__.update(kw)


@pytest.mark.parametrize("kind,value,expected", [
    (str, "héllo", "héllo"),
    (int, True, 1),
    (int, 2**63 - 1, 2**63 - 1),
    (float, 1, 1.0),
    (bool, True, True),
    (D, D("1.50"), "1.50"),
    (D, D("-0.005"), "-0.005"),
    (D, 0.1, "0.1"),
    (D, "1_000.5", "1000.5"),
    (D, D("1E+2"), "100"),
    (D, D("1.50E+3"), "1500"),
    (D, D("1E-7"), "0.0000001"),
    (D, D("79228162514264337593543950335"), "79228162514264337593543950335"),
    (D, D("0." + "1" * 28), "0." + "1" * 28),
    (uuid.UUID, uuid.UUID("A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11"), "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
    (uuid.UUID, "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
    (uuid.UUID, "urn:uuid:a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
    (uuid.UUID, "a0eebc999c0b4ef8bb6d6bb9bd380a11", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
    (dt.datetime, dt.datetime(2024, 5, 1, 10, 0, tzinfo=PLUS2), "2024-05-01T08:00:00+00:00"),
    (dt.datetime, dt.datetime(2024, 5, 1, 10, 0), "2024-05-01T10:00:00+00:00"),
    (dt.datetime, dt.datetime(2024, 5, 1, 10, 0, 0, 500000), "2024-05-01T10:00:00.500+00:00"),
    (dt.datetime, dt.datetime(2024, 1, 1, 0, 30, tzinfo=dt.timezone(dt.timedelta(hours=1))),
     "2023-12-31T23:30:00+00:00"),
    (dt.date, dt.date(2024, 5, 1), "2024-05-01"),
    (dt.date, dt.datetime(2024, 5, 1, 3, 4), None),
    (dt.time, dt.time(10, 0), "10:00:00"),
    (dt.time, dt.time(10, 0, 0, 123456), "10:00:00.123456"),
    (dt.time, dt.time(10, 0, 0, 5000), "10:00:00.005"),
    (list, (1, "a", None), [1, "a", None]),
    (list, [2**64 - 1, 2**64, -(2**63) - 1, 10**30], [2**64 - 1, 2**64, -(2**63) - 1, 10**30]),
    (dict, {"b": 1, "a": {"d": 1.5, "c": True}}, {"a": {"c": True, "d": 1.5}, "b": 1}),
    (dict, [1], [1]),
    (bytes, b"abc", "YWJj"),
    (bytes, b"ab", "YWI="),
    (bytes, bytearray(b"a"), "YQ=="),
    (bytes, [1, 2, 3], "AQID"),
    (bytes, b"", ""),
])
def test_typed_route_text_forms(kind, value, expected):
    if expected is None:  # a datetime given to a date field: its isoformat does not fit the pattern
        with pytest.raises(TypeError, match="expected date, got could not parse: trailing input"):
            one(kind, value)
        return
    assert one(kind, value) == expected


def test_json_integers_keep_their_exact_value():
    out = one(dict, {"big": 2**64 - 1, "huge": 2**200, "neg": -(2**100)})
    assert out == {"big": 2**64 - 1, "huge": 2**200, "neg": -(2**100)}
    assert all(type(v) is int for v in out.values())


@pytest.mark.parametrize("kind,value,exc,message", [
    (str, 5, TypeError, "'int' object is not an instance of 'str'"),
    (str, "\ud800", UnicodeEncodeError, None),
    (int, 1.5, TypeError, "'float' object cannot be interpreted as an integer"),
    (int, 2**63, OverflowError, None),
    (bool, 1, TypeError, "'int' object is not an instance of 'bool'"),
    (D, "1e3", TypeError, "type error on field 'v': expected Decimal, got invalid decimal string: "
                          "Invalid decimal: unknown character"),
    (D, D("NaN"), TypeError, "type error on field 'v': expected Decimal, got invalid decimal string: "
                             "Invalid decimal: must start lead with a number"),
    (D, "0." + "1" * 29, TypeError, "type error on field 'v': expected Decimal, got invalid decimal string: "
                                    "Number has a high precision that can not be represented."),
    (D, D("1E+40"), TypeError, "type error on field 'v': expected Decimal, got invalid decimal string: "
                               "Invalid decimal: overflow from too many digits"),
    (uuid.UUID, 1234, TypeError, "type error on field 'v': expected UUID, got invalid UUID: "
                                 "invalid length: expected length 32 for simple format, found 4"),
    (dt.datetime, dt.date(2024, 5, 1), TypeError,
     "type error on field 'v': expected datetime, got could not parse: premature end of input"),
    (dt.datetime, "2024-05-01", AttributeError, None),
    (dt.time, dt.time(10, 0, tzinfo=PLUS2), TypeError,
     "type error on field 'v': expected time, got could not parse: trailing input"),
    (list, {1, 2}, TypeError, "Object of type set is not JSON serializable"),
    (list, [float("nan")], TypeError, "type error on field 'v': expected list, got invalid JSON: "
                                      "expected value at line 1 column 2"),
    (bytes, "abc", TypeError, "'str' object cannot be read as a sequence of items"),
    (bytes, [256], OverflowError, "out of range integral type conversion attempted"),
    (bytes, [-1], OverflowError, "out of range integral type conversion attempted"),
    (bytes, 5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (float, float("nan"), ValueError, "serialization error on field 'v': float value NaN is not representable "
                                      "in JSON (NaN/Infinity)"),
    (float, float("-inf"), ValueError, "serialization error on field 'v': float value -inf is not representable "
                                       "in JSON (NaN/Infinity)"),
])
def test_typed_route_failures(kind, value, exc, message):
    with pytest.raises(exc) as info:
        one(kind, value)
    if message is not None:
        assert str(info.value) == message


class Hooks:
    def __init__(self, behaviour):
        self.behaviour = behaviour

    def _act(self):
        if self.behaviour == "raise":
            raise RuntimeError("hook")
        return 42  # not a str

    __str__ = _act

    def isoformat(self):
        return self._act()


@pytest.mark.parametrize("kind", [D, uuid.UUID, dt.datetime, dt.date, dt.time])
@pytest.mark.parametrize("behaviour,exc", [("raise", RuntimeError), ("non-str", TypeError)])
def test_raising_and_non_str_hooks(kind, behaviour, exc):
    with pytest.raises(exc):
        one(kind, Hooks(behaviour))


class TestRequiredAndNull:
    def test_required_field(self):
        with pytest.raises(ValueError) as info:
            serialize({}, Schema({"a": Field(str)}))
        assert str(info.value) == "field 'a' is required but was null"

    @pytest.mark.parametrize("kw", [dict(nullable=True), dict(default=True)])
    def test_absent_and_none_give_none(self, kw):
        s = Schema({"a": Field(str, **kw)})
        assert serialize({}, s) == {"a": None} and serialize({"a": None}, s) == {"a": None}

    def test_dict_subclass_missing_hook_is_not_used(self):
        class Defaulting(dict):
            def __missing__(self, key):
                return "x"

            def __getitem__(self, key):
                return "y"
        assert serialize(Defaulting(), Schema({"a": Field(str, nullable=True)})) == {"a": None}


    def test_read_failure_wins_over_a_non_finite_float(self):
        s = Schema({"f": Field(float), "a": Field(str)})
        with pytest.raises(ValueError, match="required"):
            serialize({"f": float("nan")}, s)


def test_keys_in_byte_order_and_extra_keys_dropped():
    s = Schema({"b": Field(int), "a": Field(int), "C": Field(int), "é": Field(int)})
    out = serialize(Obj(b=1, a=2, C=3, **{"é": 4}, x=5), s)
    assert list(out) == ["C", "a", "b", "é"]


class TestSerializeMany:
    def test_routes_differ_as_documented(self):
        s = Schema({"a": Field(int), "b": Field(int)})
        assert list(serialize({"b": 1, "a": 2}, s)) == ["a", "b"]
        assert list(serialize_many([{"b": 1, "a": 2}], s)[0]) == ["b", "a"]
        assert serialize_many([{"a": "12", "x": 1}], s) == [{"a": "12", "x": 1}]

    def test_direct_conversions(self):
        s = Schema({"d": Field(D), "u": Field(uuid.UUID), "t": Field(dt.datetime), "b": Field(bytes),
                    "n": Field(D, nullable=True), "s": Field(str)})
        rec = {"d": D("1E+2"), "u": "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11",
               "t": dt.datetime(2024, 5, 1, 10, tzinfo=PLUS2), "b": bytearray(b"ab"), "extra": [1]}
        out = serialize_many([rec], s)[0]
        assert out == {"d": "1E+2", "u": "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11",
                       "t": "2024-05-01T10:00:00+02:00", "b": "YWI=", "extra": [1]}
        assert out["extra"] is rec["extra"] and "n" not in out and "s" not in out
        assert rec["d"] == D("1E+2")  # input untouched

    def test_required_conversion_field_missing_from_third_record(self):
        s = Schema({"p": Field(D)})
        with pytest.raises(ValueError, match="^field 'p' is required but was null$"):
            serialize_many([{"p": 1}, {"p": 2}, {}], s)

    def test_mixed_items_and_empty(self):
        s = Schema({"d": Field(dt.date)})
        out = serialize_many([{"d": dt.date(2024, 1, 2)}, Obj(d=dt.date(2024, 1, 3))], s)
        assert out == [{"d": "2024-01-02"}, {"d": "2024-01-03"}]
        assert serialize_many([], s) == []

    def test_list_shrinking_during_the_call(self):
        data = []

        class Shrinking:
            def __str__(self):
                data.clear()
                return "1"
        data.extend([{"d": Shrinking()}, {"d": D(2)}, {"d": D(3)}])
        assert serialize_many(data, Schema({"d": Field(D)})) == [{"d": "1"}]

    def test_direct_route_passes_exceptions_through(self):
        with pytest.raises(TypeError):
            serialize_many([{"b": "text"}], Schema({"b": Field(bytes)}))
        with pytest.raises(AttributeError):
            serialize_many([{"t": "2024"}], Schema({"t": Field(dt.time)}))

    @pytest.mark.parametrize("arg,message", [((), "'tuple' object is not an instance of 'list'"),
                                             (None, "'None' is not an instance of 'list'")])
    def test_data_list_must_be_a_list(self, arg, message):
        with pytest.raises(TypeError) as info:
            serialize_many(arg, Schema({}))
        assert str(info.value) == message and info.value.__notes__ == ["while processing 'data_list'"]


# Differential checks of the text forms against the interpreter's own modules.

@settings(max_examples=300, deadline=None)
@given(st.decimals(allow_nan=False, allow_infinity=False).filter(lambda d: abs(d.as_tuple().exponent) <= 28 and len(d.as_tuple().digits) <= 28))
def test_decimals_match_the_interpreter(d):
    out = one(D, d)
    assert D(out) == d
    assert "E" not in out and "e" not in out


@settings(max_examples=300, deadline=None)
@given(st.uuids(), st.sampled_from(["hex", "str", "upper", "braced", "urn"]))
def test_uuids_match_the_interpreter(u, form):
    text = {"hex": u.hex, "str": str(u), "upper": str(u).upper(), "braced": "{%s}" % u, "urn": u.urn}[form]
    assert one(uuid.UUID, text) == str(u)


@settings(max_examples=300, deadline=None)
@given(st.datetimes(timezones=st.none() | st.builds(lambda m: dt.timezone(dt.timedelta(minutes=m)), st.integers(-1439, 1439))))
def test_datetimes_match_the_interpreter(value):
    try:
        expected = value if value.tzinfo is None else value.astimezone(UTC).replace(tzinfo=None)
    except OverflowError:  # an instant outside the years 1 to 9999 fails
        with pytest.raises(TypeError, match="instant is out of range"):
            one(dt.datetime, value)
        return
    out = one(dt.datetime, value)
    assert out.endswith("+00:00")
    assert dt.datetime.fromisoformat(out).replace(tzinfo=None) == expected


json_values = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False, allow_infinity=False) | st.text(),
    lambda children: st.lists(children) | st.dictionaries(st.text(), children), max_leaves=25)


@settings(max_examples=300, deadline=None)
@given(json_values)
def test_json_trees_match_the_interpreter(value):
    assert one(list, [value]) == json.loads(json.dumps([value]))


@settings(max_examples=200, deadline=None)
@given(st.binary(max_size=200))
def test_base64_matches_the_interpreter(data):
    expected = base64.b64encode(data).decode("ascii")
    assert one(bytes, data) == expected
    assert serialize_many([{"v": data}], Schema({"v": Field(bytes)}))[0]["v"] == expected


ALL_KINDS = Schema({"s": Field(str), "i": Field(int), "f": Field(float), "b": Field(bool), "d": Field(D),
                    "t": Field(dt.datetime), "dd": Field(dt.date), "tm": Field(dt.time), "u": Field(uuid.UUID),
                    "l": Field(list), "m": Field(dict), "by": Field(bytes), "n": Field(str, nullable=True)})
ALL_RECORD = {"s": "x", "i": 1, "f": 1.5, "b": True, "d": D("1.5"), "t": dt.datetime(2024, 1, 1, tzinfo=UTC),
              "dd": dt.date(2024, 1, 1), "tm": dt.time(1), "u": uuid.uuid4(), "l": [1, {"a": 2}],
              "m": {"k": [1.5]}, "by": b"xyz"}


@pytest.mark.parametrize("call", [
    lambda: serialize(ALL_RECORD, ALL_KINDS),
    lambda: serialize(Obj(**ALL_RECORD), ALL_KINDS),
    lambda: serialize_many([ALL_RECORD, Obj(**ALL_RECORD)], ALL_KINDS),
    lambda: serialize({**ALL_RECORD, "d": "bad"}, ALL_KINDS),
    lambda: serialize({**ALL_RECORD, "f": float("nan")}, ALL_KINDS),
    lambda: serialize_many([{**ALL_RECORD, "by": "x"}], ALL_KINDS),
    lambda: serialize({}, ALL_KINDS),
])
def test_serialization_does_not_leak(call):
    assert_no_leak(call, ALL_RECORD, per_round=300)


# The exact interpreter types take shortcuts; they must agree with the
# general path (isoformat(), str(), json.dumps) that subclasses still take.

class MyDatetime(dt.datetime):
    pass


class MyUUID(uuid.UUID):
    def __str__(self):
        return super().__str__().upper()


@settings(max_examples=200, deadline=None)
@given(st.datetimes(timezones=st.none() | st.just(UTC) | st.just(PLUS2)))
def test_direct_route_isoformat_shortcut_matches(value):
    s = Schema({"t": Field(dt.datetime), "d": Field(dt.date), "tm": Field(dt.time)})
    rec = {"t": value, "d": value.date(), "tm": value.time()}
    assert serialize_many([rec], s)[0] == {k: v.isoformat() for k, v in rec.items()}
    sub = MyDatetime.fromisoformat(value.isoformat())
    try:
        expected = one(dt.datetime, value)
    except TypeError:  # an instant outside the years 1 to 9999, on both routes
        with pytest.raises(TypeError):
            one(dt.datetime, sub)
        return
    assert one(dt.datetime, sub) == expected


def test_uuid_subclass_takes_the_general_path():
    u = MyUUID(int=0xABC)
    assert serialize_many([{"u": u}], Schema({"u": Field(uuid.UUID)}))[0]["u"] == str(u)
    assert one(uuid.UUID, u) == str(uuid.UUID(int=0xABC))


@pytest.mark.parametrize("value,expected", [
    ({1: "a", "b": 2}, {"1": "a", "b": 2}),
    ({"k": (1, 2)}, {"k": [1, 2]}),
    ([2**70, -(2**65)], [2**70, -(2**65)]),
    ([True, None, -0.0, 1e308], [True, None, -0.0, 1e308]),
    (type("D", (dict,), {})(a=1), {"a": 1}),
    ({"é": 1, "z": 2, "Z": 3}, {"Z": 3, "z": 2, "é": 1}),
])
def test_json_fields_of_every_shape(value, expected):
    out = one(dict, value)
    assert out == expected and list(out) == list(expected) if isinstance(out, dict) else out == expected


@pytest.mark.parametrize("value,message", [
    ({"a": [1, float("nan")]}, "expected value at line 1 column 11"),
    ([float("inf")], "expected value at line 1 column 2"),
    ([float("-inf")], "expected value at line 1 column 2"),
    ({"a": [1, float("-inf")]}, "expected value at line 1 column 11"),
    ([float("-nan")], "expected value at line 1 column 2"),
    (["\ud800"], "lone leading surrogate in hex escape at line 1 column 3"),
])
def test_json_failures_report_the_reader_position(value, message):
    with pytest.raises(TypeError) as info:
        one(list, value)
    assert str(info.value).endswith("got invalid JSON: " + message)


def test_json_nesting_limit():
    ok = [[]]
    for _ in range(126):
        ok = [ok]
    assert one(list, ok) == json.loads(json.dumps(ok))  # 128 levels
    with pytest.raises(TypeError, match="recursion limit exceeded"):
        one(list, [ok])
    cyclic = []
    cyclic.append(cyclic)
    with pytest.raises(ValueError, match="Circular reference"):
        one(list, cyclic)


def test_result_dicts_without_containers_are_left_to_the_collector_correctly():
    import gc
    atomic = serialize({"a": 1}, Schema({"a": Field(int)}))
    nested = serialize({"a": [1]}, Schema({"a": Field(list)}))
    copied = serialize_many([{"a": D(1), "b": "x"}], Schema({"a": Field(D)}))[0]
    assert not gc.is_tracked(atomic) and not gc.is_tracked(copied)
    assert gc.is_tracked(nested)
    # Storing a container later makes the dict tracked again, so cycles are still found.
    atomic["self"] = [atomic]
    assert gc.is_tracked(atomic)

"""Values at the edges: exactly at a bound and just past it, UUID separators,
surrogate pairs, texts holding NUL, and interrupts raised while a record is read."""

import decimal
import json
import math
import uuid

import pytest

from leakcheck import assert_no_leak
from zembra_core import Field, Schema, serialize, serialize_many, validate, validate_many

D = decimal.Decimal
INF = math.inf


def codes(report):
    return [e["code"] for e in report["errors"]]


def typed(field, value):
    return codes(validate({"v": value}, Schema({"v": field})))


def inline(field, value):
    return codes(validate_many([{"v": value}], Schema({"v": field})))


# field, values exactly at the bound (valid), values just past it (one error of `code`)
BOUNDS = [
    (Field(str, max_length=5), ["abcde", "é" * 5, "😀" * 5], ["abcdef", "é" * 6], "max_length"),
    (Field(str, min_length=3), ["abc", "😀" * 3], ["ab", "😀" * 2, ""], "min_length"),
    (Field(str, min_length=2, max_length=2), ["ab"], ["a", "abc"], None),
    (Field(bytes, max_length=4), [b"abcd", bytearray(4), b""], [b"abcde", bytearray(5)], "max_length"),
    (Field(int, min_value=-5), [-5, 2**63 - 1], [-6], "min_value"),
    (Field(int, max_value=100), [100, -(2**63)], [101], "max_value"),
    (Field(int, min_value=-(2**63), max_value=2**63 - 1), [-(2**63), 2**63 - 1], [], None),
    (Field(float, min_value=0.1), [0.1, INF], [math.nextafter(0.1, -INF), -INF], "min_value"),
    (Field(float, max_value=100.0), [100.0, -INF], [math.nextafter(100.0, INF), INF], "max_value"),
    (Field(float, max_value=0.0), [0.0, -0.0], [5e-324], "max_value"),
    (Field(float, min_value=-0.0), [0.0, -0.0], [-5e-324], "min_value"),
    (Field(D, max_digits=5), [D("123.45"), D("99999"), D("0.00001"), D("-1.2340")],
     [D("123.456"), D("100000"), D("1.23400"), D("1E+5")], "max_digits"),
    (Field(D, decimal_places=2), [D("1.23"), D("1E+5"), D("-0.01"), D("12.3")],
     [D("1.234"), D("0.001"), D("1.230")], "max_decimal_places"),
]


@pytest.mark.parametrize("check", [typed, inline])
@pytest.mark.parametrize("field,at,past,code", BOUNDS)
def test_a_value_at_a_bound_passes_and_one_past_it_fails(check, field, at, past, code):
    assert [check(field, v) for v in at] == [[] for _ in at]
    if code:
        assert [check(field, v) for v in past] == [[code] for _ in past]
    else:
        assert all(check(field, v) for v in past)


def test_bytes_min_length_is_accepted_and_ignored():
    field = Field(bytes, min_length=3)
    assert typed(field, b"") == inline(field, b"a") == []


CANONICAL = "67e55044-10b1-426f-9247-bb680e5fe0c8"
WRAPPERS = [("", ""), ("{", "}"), ("urn:uuid:", "")]


@pytest.mark.parametrize("before,after", WRAPPERS)
@pytest.mark.parametrize("at", [8, 13, 18, 23])
@pytest.mark.parametrize("char,reason", [
    ("a", "invalid group count: expected 5, found 4"),
    ("x", "invalid character: found `x` at {pos}"),
    ("\x00", "invalid character: found `\x00` at {pos}"),
])
def test_uuid_of_the_right_length_with_a_wrong_separator(before, after, at, char, reason):
    text = before + CANONICAL[:at] + char + CANONICAL[at + 1:] + after
    schema = Schema({"v": Field(uuid.UUID)})
    with pytest.raises(TypeError) as info:
        serialize({"v": text}, schema)
    # The whole message, whatever character it quotes.
    assert str(info.value) == ("type error on field 'v': expected UUID, got invalid UUID: "
                               + reason.format(pos=len(before) + at + 1))
    assert inline(Field(uuid.UUID), text) == ["invalid"]
    assert serialize({"v": before + CANONICAL + after}, schema) == {"v": CANONICAL}


def test_a_message_quoting_a_nul_does_not_leak():
    record = {"v": CANONICAL[:8] + "\x00" + CANONICAL[9:]}
    schema = Schema({"v": Field(uuid.UUID)})
    assert_no_leak(lambda: serialize(record, schema), record, schema, per_round=300)


@pytest.mark.parametrize("text,expected", [
    ("\ud800\udc00", "\U00010000"),
    ("\udbff\udfff", "\U0010ffff"),
    ("\ud800\udfff", "\U000103ff"),
    ("\ud800\ue000", None),
    ("\udbff\uffff", None),
    ("\ud800\udbff", None),
    ("\ud800\ud7ff", None),
])
def test_surrogate_pairs_at_the_edges_of_the_low_range(text, expected):
    # json.dumps writes both halves as escapes; only a low half completes a pair.
    schema = Schema({"v": Field(list)})
    if expected is None:
        with pytest.raises(TypeError, match="lone leading surrogate in hex escape"):
            serialize({"v": [text]}, schema)
    else:
        assert serialize({"v": [text]}, schema) == {"v": [expected]} == {"v": json.loads(json.dumps([text]))}


def interrupting(exc):
    class Record:
        @property
        def v(self):
            raise exc
    return Record()


@pytest.fixture(params=["KeyboardInterrupt", "SystemExit", "panic", "native panic"])
def interrupt(request, testing_module, panic_exception):
    if request.param == "KeyboardInterrupt":
        return KeyboardInterrupt, KeyboardInterrupt
    if request.param == "SystemExit":
        return SystemExit(3), SystemExit
    if request.param == "panic":
        return panic_exception("from Python"), panic_exception

    class NativePanic:
        def __get__(self, obj, owner):
            testing_module.fault("from native code")
    return NativePanic(), panic_exception


@pytest.mark.parametrize("call", [
    lambda rec, s: serialize(rec, s),
    lambda rec, s: validate(rec, s),
    lambda rec, s: serialize_many([rec], s),
    lambda rec, s: validate_many([rec], s),
], ids=["serialize", "validate", "serialize_many", "validate_many"])
@pytest.mark.parametrize("nullable", [True, False])
def test_an_interrupt_while_reading_an_attribute_goes_through(call, interrupt, nullable):
    raised, expected = interrupt
    if isinstance(raised, BaseException) or raised is KeyboardInterrupt:
        record = interrupting(raised)
    else:
        record = type("Record", (), {"v": raised})()
    with pytest.raises(expected):
        call(record, Schema({"v": Field(str, nullable=nullable)}))

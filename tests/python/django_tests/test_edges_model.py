"""zembra_django at the edges: whole texts in messages, the rounding decimal
reader against the interpreter's decimal module, bounds of validate_instance,
and interrupts raised while an instance is read."""

import decimal
import types

import pytest
from hypothesis import given, settings, strategies as st

import zembra_django as zd
from leakcheck import assert_no_leak
from django_tests.test_serialize_model import SCHEMA, VALUES, Str, one
from django_tests.test_validate_model import django_errors, errors_of, valid_instance
from django_tests.testapp.models import Ordered

D = decimal.Decimal
MAX_MANTISSA = 2**96 - 1
UUID_TEXT = "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"


@pytest.mark.parametrize("field,kind,value", [
    ("created", "datetime", Str("2024-05-01T10:00:00\x00junk")),
    ("day", "date", Str("2024-05-01\x00junk")),
    ("at", "time", Str("10:00\x00junk")),
    ("price", "Decimal", "12.5\x00junk"),
    ("key", "UUID", UUID_TEXT + "\x00junk"),
    ("key", "UUID", "\x00"),
])
@pytest.mark.parametrize("call", [zd.serialize_instance, zd.validate_instance])
def test_messages_carry_the_whole_text(field, kind, value, call):
    with pytest.raises(ValueError) as info:
        call(types.SimpleNamespace(**{**VALUES, field: value}), SCHEMA)
    assert str(info.value) == f"serialization error on field '{field}': cannot parse '{value}' as {kind}"


CUT = "1." + "0" * 28  # the 28 fraction digits the reader keeps


@pytest.mark.parametrize("text", [CUT + "1E+5", CUT + "1xyz", CUT + "1 ", CUT + "9.", CUT + "0\x00"])
def test_decimal_text_is_not_cut_short_after_the_last_kept_digit(text):
    for call in (zd.serialize_instance, zd.validate_instance):
        with pytest.raises(ValueError, match="cannot parse .* as Decimal"):
            call(types.SimpleNamespace(**{**VALUES, "price": text}), SCHEMA)
    with pytest.raises(ValueError):
        one("DecimalField", text)


@pytest.mark.parametrize("text", [CUT + "1E+5", "1.5\x00"])
def test_refused_decimal_texts_do_not_leak(text):
    record = types.SimpleNamespace(**{**VALUES, "price": text})
    assert_no_leak(lambda: zd.serialize_instance(record, SCHEMA), record, per_round=150)


def rounded(text):
    """What the Django module's reader makes of a plain decimal text: the
    interpreter's value, rounded half up to the fraction digits that still fit
    (at most 28; the mantissa below 2**96), or None when the integer part alone
    does not fit."""
    value = D(text)
    fraction = len(text.replace("_", "").partition(".")[2])
    context = decimal.Context(prec=200)
    places = min(fraction, 28)

    def at(places, rounding):
        return value.quantize(D(1).scaleb(-places), rounding=rounding, context=context)
    if abs(at(0, decimal.ROUND_DOWN)) > MAX_MANTISSA:
        return None
    while abs(at(places, decimal.ROUND_DOWN).scaleb(places)) > MAX_MANTISSA:
        places -= 1
    result = at(places, decimal.ROUND_HALF_UP)
    if abs(result.scaleb(places)) > MAX_MANTISSA:
        if places == 0:
            return None
        result = at(places - 1, decimal.ROUND_HALF_UP)
    return format(result, "f")


@st.composite
def digit_runs(draw, max_size):
    """Digits, long enough to reach the cut, with separators between some of them."""
    digits = draw(st.text("0123456789", min_size=draw(st.integers(0, max_size)), max_size=max_size))
    out = []
    for i, d in enumerate(digits):
        if i and draw(st.integers(0, 9)) == 0:
            out.append("_")
        out.append(d)
    return "".join(out)


@st.composite
def decimal_texts(draw):
    whole, fraction = draw(digit_runs(31)), draw(digit_runs(40))
    point = "." if fraction or not whole else draw(st.sampled_from(["", "."]))
    if not (whole or fraction):
        whole = "0"
    return draw(st.sampled_from(["", "+", "-"])) + whole + point + fraction


@settings(max_examples=400, deadline=None)
@given(decimal_texts(), st.sampled_from(["", "E+5", "e-3", " ", "x", "\x00", "-", ".", ".5"]))
def test_rounding_reader_matches_the_decimal_module(text, tail):
    if tail.startswith(".") and "." not in text:
        tail = "." + tail  # a second point, whatever the first
    expected = rounded(text) if not tail else None
    if expected is None:
        with pytest.raises(ValueError, match="cannot parse"):
            one("DecimalField", text + tail)
    else:
        assert one("DecimalField", text) == expected


# field of the test model, value at the bound, values just past it, Django agrees on the report
BOUNDS = [
    ("title", ["x" * 20, "é" * 20], ["x" * 21, "😀" * 21], True),
    ("blob", [b"x" * 16, b""], [b"x" * 17], False),  # Django says "characters" for bytes
    ("price", [D("9999.99"), D("-0.01"), D("1E+3")], [D("99999.99"), D("1.234"), D("-0.001")], True),
    ("count", [2**31 - 1, -(2**31)], [2**31, -(2**31) - 1], False),
]


@pytest.mark.parametrize("field,at,past,like_django", BOUNDS)
def test_validate_instance_bounds(db, field, at, past, like_django):
    for value in at:
        assert zd.validate_instance(valid_instance(**{field: value}), SCHEMA)["errors"] == []
    for value in past:
        instance = valid_instance(**{field: value})
        ours = [(f, m, c) for f, m, c, _ in errors_of(zd.validate_instance(instance, SCHEMA))]
        assert len(ours) == 1 and ours[0][0] == field
        if like_django:
            assert ours == django_errors(instance)


@pytest.fixture(params=["KeyboardInterrupt", "panic", "native panic"])
def interrupting_record(request, testing_module, panic_exception):
    def read(self):
        if request.param == "KeyboardInterrupt":
            raise KeyboardInterrupt
        if request.param == "panic":
            raise panic_exception("from Python")
        testing_module.fault("from native code")
    record = type("Record", (), {"zeta": 1, "alpha": property(read)})()
    return record, KeyboardInterrupt if request.param == "KeyboardInterrupt" else panic_exception


@pytest.mark.parametrize("call", [
    lambda rec, s: zd.serialize_instance(rec, s),
    lambda rec, s: zd.serialize_batch([rec], s),
    lambda rec, s: zd.validate_instance(rec, s),
], ids=["serialize_instance", "serialize_batch", "validate_instance"])
def test_an_interrupt_while_reading_an_instance_goes_through(call, interrupting_record):
    record, expected = interrupting_record
    with pytest.raises(expected):
        call(record, zd.ModelSchema(Ordered))  # alpha is nullable: absence alone would not raise

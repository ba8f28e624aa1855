"""zembra.parse_input beyond the agreement with the framework (see
django_tests/test_input_drf.py): any body is answered and never raises,
plans are checked when compiled, dict bodies, threads and leaks."""

import codecs
import datetime as dt
import decimal
import io
import json
import threading
import uuid

import pytest
from hypothesis import given, settings, strategies as st

import zembra
from leakcheck import assert_no_leak

KINDS = ["integer", "float", "decimal", "boolean", "string", "email", "url", "slug", "ip", "uuid", "date", "time",
         "datetime", "duration", "json", "choice", "primary_key", "many_primary_keys"]


def spec(name, kind, **rules):
    extra = {"choice": {"choices": [1, "a"]}, "primary_key": {"key_kind": "uuid"},
             "many_primary_keys": {"key_kind": "string"}, "decimal": {"max_digits": 6, "decimal_places": 2}}
    return {"name": name, "kind": kind, **extra.get(kind, {}), **rules}


EVERY_KIND = zembra.InputPlan([spec(k, k, required=False, allow_null=True) for k in KINDS])
json_values = st.recursive(st.none() | st.booleans() | st.integers() | st.floats() | st.text(),
                           lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=3), inner, max_size=3),
                           max_leaves=8)


def well_formed(answer):
    values, errors = answer
    assert (values is None) != (errors is None)
    if errors is not None:
        assert errors and all(isinstance(k, str) and v for k, v in errors.items())
        for pairs in errors.values():
            assert all(isinstance(m, str) and isinstance(c, str) for m, c in pairs)


@settings(max_examples=500, deadline=None)
@given(st.one_of(
    st.binary(max_size=60),
    st.text(max_size=40),
    st.dictionaries(st.sampled_from(KINDS + ["x"]), json_values, max_size=6).map(lambda d: json.dumps(d).encode()),
    st.dictionaries(st.sampled_from(KINDS), json_values, max_size=6),
    st.lists(st.sampled_from(['{"', '"', "[", "]", "{", "}", ":", ",", "1e400", "-", "\\u", "\\ud800", "\xff", "null",
                              "NaN", " ", "date", "2024-05-01"]), max_size=12).map(lambda p: "".join(p).encode("utf-8", "surrogatepass")),
), st.booleans(), st.sampled_from(["ignore", "reject"]))
def test_any_body_is_answered(body, partial, unknown):
    well_formed(zembra.parse_input(EVERY_KIND, body, partial=partial, unknown=unknown))


@pytest.mark.parametrize("body", [b'{"a": 1}', bytearray(b'{"a": 1}'), memoryview(b'{"a": 1}'), '{"a": 1}', {"a": 1},
                                  memoryview(b'{-"-a-"-:- -1-}-')[::2], memoryview(b'x{"a": 1}')[1:],
                                  memoryview(bytearray(b'{"a": 1}')).cast("B", (2, 4))])
def test_body_forms(body):
    assert zembra.parse_input(zembra.InputPlan([spec("a", "integer")]), body) == ({"a": 1}, None)


@pytest.mark.parametrize("tail", [b"\xed\xa0", b"\xed\xbf", b"\xed\x9f", b"\xed", b"\xed\xa0\x80", b"\xed\xc0",
                                  b"\xe0\x9f", b"\xe0\xa0", b"\xf4\x90", b"\xf0\x90\x80", b"\xc0"])
@pytest.mark.parametrize("after", [b"", b" "])
def test_body_ends_read_as_the_framework_decodes_them(tail, after):
    # Its JSON parser reads the body through the codec's stream reader,
    # which holds back what may still become a character and is never
    # flushed.
    body = b'{"a": 1}' + tail + after
    try:
        expected = (json.load(codecs.getreader("utf-8")(io.BytesIO(body))), None)
    except ValueError as error:
        expected = (None, {"non_field_errors": [(f"JSON parse error - {error}", "parse_error")]})
    assert zembra.parse_input(zembra.InputPlan([spec("a", "integer")]), body) == expected


def test_body_problems_are_reports():
    plan = zembra.InputPlan([spec("a", "integer")])
    deep = b"[" * 1001 + b"]" * 1001
    cases = {
        b"": "JSON parse error - Expecting value: line 1 column 1 (char 0)",
        b'{"a": 1} \xff': "JSON parse error - 'utf-8' codec can't decode byte 0xff in position 9: invalid start byte",
        b"NaN": "JSON parse error - Out of range float values are not JSON compliant: 'NaN'",
        deep: "JSON parse error - maximum recursion depth exceeded while decoding a JSON array from a unicode string",
        b"[1]": "Invalid data. Expected a dictionary, but got list.",
        b"null": "No data provided",
    }
    for body, message in cases.items():
        values, errors = zembra.parse_input(plan, body)
        assert values is None and errors["non_field_errors"][0][0] == message
    assert zembra.parse_input(plan, b'{"a": 1, "b": 2, "b": 3}', unknown="reject")[1] == {
        "non_field_errors": [('Unknown field "b".', "unknown_field")]}


JSON_PIECES = st.sampled_from(['"', "\\", "\\u00e9", "\\ud83d", "\\n", "\\x", "\x01", "\x7f", "\xe9", "\U0001f600",
                               "\ud800", "a", "0123456789abcdef", " ", ",", ":", "[", "]", "{", "}", "1", "-2.5e3"])


@settings(max_examples=400, deadline=None)
@given(st.lists(JSON_PIECES, max_size=24).map("".join), st.booleans())
def test_json_reader_agrees_with_the_json_module(text, as_bytes):
    # Runs of plain bytes around every kind of string stop, at each offset a
    # sixteen-byte scan can meet them.
    body = '{"f": "' + text
    plan = zembra.InputPlan([spec("f", "json", required=False)])
    as_bytes = as_bytes and "\ud800" not in text  # a raw surrogate is no UTF-8
    values, errors = zembra.parse_input(plan, body.encode() if as_bytes else body)
    try:
        expected = json.loads(body)
    except json.JSONDecodeError as error:
        assert errors == {"non_field_errors": [(f"JSON parse error - {error}", "parse_error")]}
        return
    assert values == expected


SHORT_ESCAPES = {0x08: "\\b", 0x09: "\\t", 0x0A: "\\n", 0x0C: "\\f", 0x0D: "\\r"}


@pytest.mark.parametrize("code", range(0x20))
@pytest.mark.parametrize("pad", [0, 7, 8, 40])
def test_control_characters_in_strings_read_as_json_loads_reads_them(code, pad):
    plan = zembra.InputPlan([spec("f", "json")])
    for char in [chr(code), f"\\u{code:04x}", f"\\u{code:04X}", SHORT_ESCAPES.get(code, "\\u0000")]:
        body = '{"f": "' + "x" * pad + char + "y" * pad + '"}'
        try:
            expected = (json.loads(body), None)
        except json.JSONDecodeError as error:
            expected = (None, {"non_field_errors": [(f"JSON parse error - {error}", "parse_error")]})
        assert zembra.parse_input(plan, body.encode()) == expected
        assert zembra.parse_input(plan, body) == expected


SHARED_TEXTS = zembra.InputPlan([spec("f", "json")])


@settings(max_examples=300, deadline=None)
@given(st.integers(0, 56).flatmap(lambda n: st.lists(st.text("ab", min_size=n, max_size=n), min_size=1, max_size=8)),
       st.sampled_from(["", "p", "prefix::"]))
def test_shared_short_strings_are_the_texts_read(middles, ends):
    # One plan across examples: texts of one length with the same ends that
    # differ only in between must never be mixed up.
    texts = [ends + m + ends for m in middles]
    assert zembra.parse_input(SHARED_TEXTS, json.dumps({"f": texts}))[0] == {"f": texts}


@settings(max_examples=300, deadline=None)
@given(st.datetimes(dt.datetime(1, 1, 2), dt.datetime(9999, 12, 30)).map(lambda d: d.replace(microsecond=0)),
       st.characters(min_codepoint=0x20, max_codepoint=0x7E),
       st.sampled_from(["", "Z", "+05:30", "-00:00", "-23:59", "+24:00", "+05:60"]), st.booleans())
def test_usual_datetime_texts_read_as_fromisoformat_reads_them(when, separator, suffix, date_only):
    text = when.date().isoformat() if date_only else when.isoformat(separator) + suffix
    kind = "date" if date_only else "datetime"
    plan = zembra.InputPlan([spec("t", kind, default_timezone=dt.timezone.utc)])
    values, errors = zembra.parse_input(plan, json.dumps({"t": text}))
    try:
        expected = (dt.date if date_only else dt.datetime).fromisoformat(text)
    except ValueError:
        return  # left to the general readers (and the framework agreement tests)
    if not date_only:
        expected = expected.astimezone(dt.timezone.utc) if expected.tzinfo else expected.replace(tzinfo=dt.timezone.utc)
    assert errors is None and values["t"] == expected and type(values["t"]) is type(expected)


LEAP_YEARS_OR_NOT = [1900, 2000, 2100, 2024, 2023, 1600, 4, 9996, 9999]
# Week 53 exists when the year starts on a Thursday, or a Wednesday in a leap year.
LEAP_DAYS = ([f"{y:04d}-02-29" for y in LEAP_YEARS_OR_NOT] + [f"{y:04d}0229" for y in LEAP_YEARS_OR_NOT]
             + [f"{y}-W53-1" for y in [2200, 2020, 2019, 2004, 2000]])


@pytest.mark.parametrize("kind,time", [("date", ""), ("datetime", "T10:00:00Z")])
@pytest.mark.parametrize("day", LEAP_DAYS)
def test_leap_days_and_weeks_follow_the_calendar(kind, time, day):
    plan = zembra.InputPlan([spec("t", kind, default_timezone=dt.timezone.utc)])
    values, errors = zembra.parse_input(plan, json.dumps({"t": day + time}).encode())
    try:
        expected = dt.date.fromisoformat(day)
    except ValueError:
        assert values is None and [c for _, c in errors["t"]] == ["invalid"]
        return
    assert errors is None and (values["t"] if kind == "date" else values["t"].date()) == expected


def test_dict_bodies_pass_python_objects_through():
    when = dt.datetime(2024, 5, 1, 10, tzinfo=dt.timezone(dt.timedelta(hours=2)))
    plan = zembra.InputPlan([spec("d", "date"), spec("t", "datetime", default_timezone=dt.timezone.utc),
                             spec("u", "uuid"), spec("n", "decimal"), spec("j", "json", required=False)])
    key = uuid.uuid4()
    values, errors = zembra.parse_input(plan, {"d": dt.date(2024, 5, 1), "t": when, "u": key, "n": decimal.Decimal("1.5")})
    assert errors is None and values == {"d": dt.date(2024, 5, 1), "t": when, "u": key, "n": decimal.Decimal("1.50")}
    assert values["t"].tzinfo is dt.timezone.utc and str(values["n"]) == "1.50"
    _, errors = zembra.parse_input(plan, {"d": when, "t": dt.date(2024, 5, 1), "u": 1.5, "n": [], "j": {1: object()}})
    assert {k: [c for _, c in v] for k, v in errors.items()} == {
        "d": ["datetime"], "t": ["date"], "u": ["invalid"], "n": ["invalid"], "j": ["invalid"]}
    # A JSON value is the object given, as the framework hands it on.
    given = {1: ("a", [2.5])}
    values, _ = zembra.parse_input(plan, {"d": dt.date(2024, 5, 1), "t": when, "u": key, "n": 1, "j": given})
    assert values["j"] is given
    # Keys that are not text name no field; only rejecting unknown ones sees them.
    assert zembra.parse_input(plan, {"d": dt.date(2024, 5, 1), "t": when, "u": key, "n": 1, 1: 2, None: 3},
                              unknown="reject")[1] == {"non_field_errors": [('Unknown field "1".', "unknown_field"),
                                                                          ('Unknown field "None".', "unknown_field")]}


@pytest.mark.parametrize("fields, error", [
    ("nope", TypeError),
    ([{"kind": "integer"}], TypeError),
    ([spec("a", "number")], ValueError),
    ([spec("a", "integer"), spec("a", "string")], ValueError),
    ([spec("a", "string", max_length=-1)], ValueError),
    ([spec("a", "string", max_length="5")], TypeError),
    ([spec("a", "string", min_value=1)], ValueError),
    ([spec("a", "integer", max_value=float("nan"))], ValueError),
    ([spec("a", "duration", max_value=5)], TypeError),
    ([spec("a", "choice", choices=None)], ValueError),
    ([spec("a", "primary_key", key_kind="date")], ValueError),
    ([spec("a", "ip", protocol="ipv5")], ValueError),
    ([spec("a", "datetime", default_timezone="UTC")], TypeError),
    ([spec("a", "string", validators=[1])], TypeError),
])
def test_bad_plans_raise(fields, error):
    with pytest.raises(error):
        zembra.InputPlan(fields)


def test_validator_exceptions_other_than_validation_errors_propagate():
    def broken(value):
        raise KeyError("bug")

    with pytest.raises(KeyError):
        zembra.parse_input(zembra.InputPlan([spec("a", "integer", validators=[broken])]), b'{"a": 1}')


@pytest.mark.parametrize("kind, body", [("integer", b'{"a": null}'), ("datetime", b'{"a": null}'),
                                        ("string", {"a": None})])
def test_validators_never_see_null(kind, body):
    def refuse(value):
        raise KeyError("a validator was given null")

    plan = zembra.InputPlan([spec("a", kind, allow_null=True, validators=[refuse])])
    assert zembra.parse_input(plan, body) == ({"a": None}, None)


def test_one_plan_serves_many_threads():
    plan = zembra.InputPlan([spec(k, k, required=False) for k in KINDS])
    body = json.dumps({"integer": "12", "decimal": "1.5", "date": "2024-05-01", "email": "a@b.co", "json": [1]}).encode()
    expected = zembra.parse_input(plan, body)
    answers = []
    threads = [threading.Thread(target=lambda: answers.extend(zembra.parse_input(plan, body) for _ in range(200)))
               for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert answers == [expected] * 800


def no_leak(fn, *watched):
    try:
        assert_no_leak(fn, *watched)
    except AssertionError:
        # Once in a while the interpreter maps a new memory region (a
        # one-time allocation of its own); a real leak fails twice.
        assert_no_leak(fn, *watched)


def test_no_leaks():
    def complain(value):
        from django.core.exceptions import ValidationError
        raise ValidationError("no %(value)s", code="x", params={"value": value})

    specs = [spec(k, k, required=False) for k in KINDS] + [spec("v", "string", validators=[complain]),
                                                         spec("z", "datetime", default_timezone=dt.timezone(dt.timedelta(hours=1)))]
    plan = zembra.InputPlan(specs)
    good = json.dumps({"integer": 12, "decimal": "1.5", "date": "2024-05-01", "uuid": str(uuid.uuid4()), "json": {"a": [1]},
                       "many_primary_keys": ["a", 1], "choice": "a", "z": "2024-05-01T10:00Z"}).encode()
    bad = json.dumps({"integer": "x", "v": "text", "ip": "::1::", "url": "http://ex\u00e4mple.com", "choice": [1]}).encode()
    for body in (good, bad, b'{"a": ', {"integer": 1, "json": {"k": [dt.date(2024, 5, 1)]}}, "{\"string\": \"\ud800\"}"):
        no_leak(lambda: zembra.parse_input(plan, body, unknown="reject"), plan)
    no_leak(lambda: zembra.InputPlan(specs))
    no_leak(lambda: zembra.InputPlan([spec("a", "nope")]))

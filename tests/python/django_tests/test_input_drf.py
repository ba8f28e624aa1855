"""zembra.parse_input against Django REST framework itself: random field
lists of every kind, random bodies, the framework's serializer and JSON
parser as the reference. Valid bodies must give equal values (types and
Decimal exponents included), invalid ones the same fields, messages and
codes."""

import datetime as dt
import decimal
import json
import uuid
import zoneinfo

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from django.core import validators as dv

from django_tests.input_reference import FrameworkCrash, body_text, drf_answer, drf_data_answer, our_answer

D = decimal.Decimal
PARIS = zoneinfo.ZoneInfo("Europe/Paris")
ZONES = [None, dt.timezone.utc, dt.timezone(dt.timedelta(hours=5, minutes=30)), zoneinfo.ZoneInfo("UTC"), PARIS]

BASES = {
    "integer": ["12", " 12 ", "1.0", "1.00 \n", "\u0661\u0662", "1_000", "+5", "-0", "1e3", "0x10", "1.5", "", "9" * 30,
                "7" * 1001, "1.", "1 .0"],
    "float": ["1.5", " 2 ", "1e3", "inf", "nan", "1_0.5", "\u0661.\u0665", ".5", "5.", "1e400", "-0", "1e", "1_", "4" * 1001],
    "decimal": ["1.5", "12.345", "1e5", "-0", "0.000", ".5", "5.", "+1", "1_0", "NaN", "Infinity", "\u0661\u0662",
                "1e999999999999", "123456789.123", " 7 ", "0E+3", "1e-7"],
    "boolean": ["true", "True", "TRUE", "1", "0", "yes", "No", "on", "off", "t", "F", "null", "", "2", "truee"],
    "string": ["abc", "  padded  ", "", "   ", "a\x00b", "\u00e9t\u00e9", "\u3000x\u3000", "x" * 20, "\ud800z"],
    "email": ["a@b.com", "A@B.CO", "a.b+c@d-e.fg", '"q x"@h.io', "a@localhost", "a@[1.2.3.4]", "a@[::1]", "a@b",
              "a@b.c", "a..b@c.com", "a@-b.com", "a@b.xn--p1ai", "a@b.1com", "\u00fc@b.com", "a@b\u00fc.com",
              " a@b.com ", "a@b.c0m", "\u212a@b.com", '"a\\"b"@c.de'],
    "url": ["http://example.com", "https://a.b.co/x?y#z", "ftp://1.2.3.4:21/", "http://[::1]:80/", "http://localhost",
            "http://u:p@host.com", "http://example", "htp://x.com", "http://x.com/ a", "http://[1.2.3.4]/",
            "http://xn--p1ai.com", "HTTP://X.COM", "http://a.b.c.", "http://256.1.1.1", "http://ex\u00e4mple.com",
            "http://[v1.x]/", "http://a@b@c.com", "http://x.com:123456", "http://u?x@host.com/"],
    "slug": ["abc-1_2", "a b", "\u00fc", "abc\n", "-", "\u00e9t\u00e9"],
    "ip": ["1.2.3.4", "::1", "::ffff:1.2.3.4", "2001:DB8::1", "1.2.3.04", "256.1.1.1", "1::2::3", "fe80::1%eth0",
           " 1.2.3.4 ", "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8:9", "::", "1.2.3", "0:0:0:0:0:0:0:1", "::1.2.3.4"],
    "uuid": [str(uuid.UUID(int=0x12345678123456781234567812345678)), "12345678123456781234567812345678",
             "{12345678-1234-5678-1234-567812345678}", "urn:uuid:12345678-1234-5678-1234-567812345678",
             "0x345678123456781234567812345678", " 2345678123456781234567812345678", "1_345678123456781234567812345678"],
    "date": ["2024-05-01", "20240501", "2024-W18-3", "2024-5-1", "2024-02-30", "2024-05-01T10:00",
             "\u0662\u0660\u0662\u0664-\u0660\u0665-\u0660\u0661", "0000-01-01", "2024-05-01\n", "2024W183", "2020-W53"],
    "time": ["10:00", "10:00:00.123456789", "1000", "T10", "10:00+01:00", "24:00", "1:2", "10:00:00,5", "10.5",
             "10:00:60", "10:00:00+25:00"],
    "datetime": ["2024-05-01T10:00:00Z", "2024-05-01 10:00:00+05:30", "2024-05-01", "2024-05-01T10:00:00.123+0100",
                 "iso-8601", "ISO-8601", "0001-01-01T00:00:00+01:00", "9999-12-31T23:59:59-01:00", "2024-1-1 1:2",
                 "2024-05-01T10:00 Z", "2024-05-01T10:00+24:00", "2024-03-31T02:30:00", "2024-10-27T02:30:00",
                 "2024-05-01T10:00:00+00:00:30"],
    "duration": ["1 2:03:04.5", "-1 day, 2:00:00", "P1DT2H", "-P1D", "3 days 04:05:06", "PT0.5S", "P1,5D", "12", "1:2",
                 "", "\n", "1e3", "999999999 days 23:59:59", "-999999999 days", "1000000000 days", "P1.5W", "-1:00:00",
                 "0.1", "P0.3333333333D", "1 days, -1:00:00"],
    "json": [""],
    "choice": ["1", "a", "B", "1.0", "True", "", "0.5"],
    "primary_key": ["1", " 2 ", "1.5", "abc", "", "12345678-1234-5678-1234-567812345678", "1_0"],
}
BASES["many_primary_keys"] = BASES["primary_key"]
KINDS = list(BASES)
ALPHABET = "0123456789-:.,+ TZWPDHMSe_\n\x00\u00e9\u0661\ud800x@[]/%"


@st.composite
def mutated(draw, base):
    text = list(base)
    for _ in range(draw(st.integers(0, 3))):
        op = draw(st.integers(0, 2))
        at = draw(st.integers(0, len(text)))
        if op == 0 or not text:
            text.insert(at, draw(st.sampled_from(ALPHABET)))
        elif op == 1:
            del text[min(at, len(text) - 1)]
        else:
            text[min(at, len(text) - 1)] = draw(st.sampled_from(ALPHABET))
    return "".join(text)


def as_json(value):
    return st.booleans().map(lambda ascii: json.dumps(value, ensure_ascii=ascii))


scalars = st.one_of(
    st.sampled_from(["null", "true", "false", "1e400", "-1e400", "12345678901234567890123", "1.0", "-0", "0.0",
                     "1E2", "1e16", "[1, 2]", '["a", null]', "{}", '{"a": 1}', "[]", "340282366920938463463374607431768211455"]),
    st.integers().map(str), st.floats(allow_nan=False, allow_infinity=False).map(repr), st.text(max_size=8).flatmap(as_json))


def values_for(kind):
    texts = st.sampled_from(BASES[kind]).flatmap(lambda b: st.one_of(st.just(b), mutated(b)))
    return st.one_of(texts.flatmap(as_json), scalars, texts.flatmap(as_json))


def no_q(value):
    if "q" in str(value):
        raise dv.ValidationError("No q in %(value)s.", code="no_q", params={"value": value})


@st.composite
def field_specs(draw, name):
    kind = draw(st.sampled_from(KINDS))
    spec = {"name": name, "kind": kind}
    for key in ("required", "allow_null"):
        if draw(st.booleans()):
            spec[key] = draw(st.booleans())
    if kind in ("string", "email", "url", "slug", "ip"):
        if draw(st.booleans()):
            spec["max_length"] = draw(st.integers(0, 12))
        if draw(st.integers(0, 3)) == 0:
            spec["min_length"] = draw(st.integers(0, 4))
        for key in ("allow_blank", "trim_whitespace"):
            if draw(st.booleans()):
                spec[key] = draw(st.booleans())
    if kind == "slug":
        spec["allow_unicode"] = draw(st.booleans())
    if kind == "ip":
        spec["protocol"] = draw(st.sampled_from(["both", "ipv4", "ipv6", "IPv4"]))
    if kind in ("integer", "float", "decimal"):
        limits = st.one_of(st.integers(-20, 20), st.sampled_from([D("1.5"), 0.1, 2**70, -(2**70), D("1E+3")]))
        for key in ("max_value", "min_value"):
            if draw(st.integers(0, 2)) == 0:
                spec[key] = draw(limits)
    if kind == "decimal":
        spec["max_digits"] = draw(st.one_of(st.integers(1, 12), st.none()))
        # Places without digits make the framework's quantize() raise (a server error).
        spec["decimal_places"] = draw(st.integers(0, min(6, spec["max_digits"]))) if spec["max_digits"] else None
    if kind == "duration":
        for key in ("max_value", "min_value"):
            if draw(st.integers(0, 3)) == 0:
                spec[key] = dt.timedelta(seconds=draw(st.integers(-200000, 200000)))
    if kind == "datetime":
        spec["default_timezone"] = draw(st.sampled_from(ZONES))
    if kind == "choice":
        spec["choices"] = draw(st.lists(st.sampled_from([1, 2, "a", "B", "1.0", True, 0.5, "", "x y"]), min_size=1,
                                        max_size=5, unique_by=str))
        if draw(st.booleans()):
            spec["allow_blank"] = draw(st.booleans())
    if kind in ("primary_key", "many_primary_keys"):
        spec["key_kind"] = draw(st.sampled_from(["integer", "string", "uuid"]))
        if kind == "many_primary_keys" and draw(st.booleans()):
            spec["allow_empty"] = draw(st.booleans())
    # (Related fields' validators get the related object in the framework.)
    if draw(st.integers(0, 5)) == 0 and kind not in ("primary_key", "many_primary_keys"):
        spec["validators"] = [no_q]
    return spec


@st.composite
def cases(draw):
    names = draw(st.lists(st.sampled_from(["a", "b", "c", "d", "e"]), min_size=1, max_size=4, unique=True))
    specs = [draw(field_specs(n)) for n in names]
    members = []
    for spec in specs:
        if draw(st.integers(0, 6)):
            kind = spec["kind"]
            value = draw(values_for(kind))
            if kind == "many_primary_keys" and draw(st.booleans()):
                value = "[" + ", ".join(draw(st.lists(values_for("primary_key"), max_size=3))) + "]"
            if kind == "choice" and draw(st.booleans()):
                value = json.dumps(draw(st.sampled_from(spec["choices"])))
            members.append((spec["name"], value))
    if draw(st.integers(0, 9)) == 0:
        members.append(("unknown", "1"))
    return specs, body_text(members), draw(st.integers(0, 4)) == 0


@pytest.mark.usefixtures("db")
@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases())
def test_parse_input_agrees_with_the_framework(case):
    specs, body, partial = case
    ours = our_answer(specs, body, partial)
    try:
        theirs = drf_answer(specs, body, partial)
    except FrameworkCrash:
        assert ours[1], "where the framework fails with a server error, a report"
        return
    assert ours == theirs


TEXT_KINDS = {
    "integer": {}, "float": {}, "decimal": {"max_digits": 30, "decimal_places": 10}, "boolean": {}, "email": {},
    "url": {}, "slug": {"allow_unicode": True}, "ip": {"protocol": "both"}, "uuid": {}, "date": {}, "time": {},
    "datetime": {"default_timezone": dt.timezone.utc}, "duration": {},
    "primary_key": {"key_kind": "uuid"},
}
SAMPLES = {
    "date": st.dates().map(dt.date.isoformat) | st.dates().map(lambda d: d.strftime("%Y%m%d"))
    | st.dates().map(lambda d: "%04d-W%02d-%d" % d.isocalendar()),
    "time": st.times().map(dt.time.isoformat) | st.times().map(lambda t: t.isoformat("minutes")),
    "datetime": st.datetimes(timezones=st.sampled_from(ZONES[:3]) | st.none()).map(lambda d: d.isoformat(" ")),
    "duration": st.timedeltas().map(str) | st.timedeltas().map(lambda d: f"P{d.days}DT{d.seconds}.{d.microseconds:06d}S"),
    "decimal": st.decimals(allow_nan=False, allow_infinity=False).map(str),
    "float": st.floats().map(repr), "uuid": st.uuids().map(str), "ip": st.ip_addresses().map(str),
    "email": st.emails(), "integer": st.integers().map(str),
}
WIDE = st.text(st.sampled_from(ALPHABET + "WPFTtyno\u212a\u0130abc!#\"\\"), max_size=24)


@pytest.mark.usefixtures("db")
@pytest.mark.parametrize("kind", list(TEXT_KINDS))
@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_text_readers_agree_with_the_framework(kind, data):
    base = SAMPLES.get(kind, st.sampled_from(BASES[kind]))
    text = data.draw(st.one_of(base, base.flatmap(mutated), st.sampled_from(BASES[kind]).flatmap(mutated), WIDE))
    specs = [{"name": "f", "kind": kind, **TEXT_KINDS[kind]}]
    body = body_text([("f", json.dumps(text))])
    assert our_answer(specs, body) == drf_answer(specs, body)


INT64_EDGES = ["9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
               "9999999999999999999", "18446744073709551615", "18446744073709551616", "-18446744073709551616"]


@pytest.mark.parametrize("text", INT64_EDGES)
@pytest.mark.parametrize("as_string", [False, True])
@pytest.mark.parametrize("bounds", [{}, {"max_value": 2**63 - 1, "min_value": -2**63},
                                    {"max_value": 2**64 - 1, "min_value": 2**63}, {"min_value": -2**64}])
def test_integers_at_the_64_bit_edges(text, as_string, bounds):
    specs = [{"name": "f", "kind": "integer", **bounds}]
    body = body_text([("f", json.dumps(text) if as_string else text)])
    ours = our_answer(specs, body)
    assert ours == drf_answer(specs, body)
    if not bounds:
        assert ours == ({"f": ("int", int(text))}, None)


@pytest.mark.parametrize("kind", ["integer", "float", "decimal"])
@pytest.mark.parametrize("digits", [5001, -4301])
def test_ints_beyond_the_digit_limit_in_dict_bodies_are_reports(kind, digits):
    value = 10 ** (abs(digits) - 1) * (1 if digits > 0 else -1)
    specs = [{"name": "f", "kind": kind, "max_digits": 10, "decimal_places": 2} if kind == "decimal"
             else {"name": "f", "kind": kind}]
    ours = our_answer(specs, {"f": value, "g": [value]})
    try:
        assert ours == drf_data_answer(specs, {"f": value})
    except FrameworkCrash:  # the framework's str() of it fails
        assert ours == (None, {"f": [("String value too large.", "max_string_length")]})


DURATION_BOUNDS = {"name": "f", "kind": "duration", "max_value": dt.timedelta(days=1), "min_value": dt.timedelta(0)}
CHOICES = {"name": "f", "kind": "choice", "choices": [1, 2, "(1, 2)"]}
JSON = {"name": "f", "kind": "json"}
KEYS = {"name": "f", "kind": "many_primary_keys", "key_kind": "integer"}


@pytest.mark.usefixtures("db")
@pytest.mark.parametrize("spec, value", [
    # Python objects in a dict body get the checks a JSON body gets.
    (DURATION_BOUNDS, dt.timedelta(days=5)),
    (DURATION_BOUNDS, dt.timedelta(microseconds=-1)),
    (DURATION_BOUNDS, dt.timedelta(hours=3)),
    (DURATION_BOUNDS, dt.timedelta(days=1)),
    # The framework dumps a JSON field's value to check it and keeps the value.
    (JSON, {1: "a", None: [1.5], True: (2, 3), 2.5: "x"}),
    (JSON, (1, [2, (3,)])),
    (JSON, {"a": {"b": ()}}),
    (JSON, {float("inf"): 1}),
    (JSON, {(1, 2): 1}),
    (JSON, {"a": dt.date(2024, 5, 1)}),
    (JSON, [decimal.Decimal("1.5")]),
    # Messages show str() of the value as it was given.
    (CHOICES, (1, 2)),
    (CHOICES, [1, (2,)]),
    (CHOICES, {1: "a"}),
    # A dict's keys are what iterating it gives.
    (KEYS, {1: "x", 2.0: "y", "3": None}),
])
def test_dict_body_values_agree_with_the_framework(spec, value):
    data = {"f": value, 1: "keys that are not text name no field", None: 2}
    assert our_answer([spec], data) == drf_data_answer([spec], data)

"""What the JSON bytes tests share: the reference encoding, the comparison
of outcomes and the value strategies."""

import datetime as dt
import decimal
import json

from hypothesis import strategies as st

D = decimal.Decimal
UTC = dt.timezone.utc


def dumps(value, **kw):
    """The text the encoders must give for what a dict route returned."""
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False, **kw).encode()


def outcome(call):
    try:
        return "ok", call()
    except Exception as exc:  # the type and the message must agree
        return type(exc), str(exc)


def assert_same(ours, reference):
    assert outcome(ours) == outcome(reference)


def mostly(good, bad):
    """good nine times in ten, else bad: most records succeed, errors stay covered."""
    return st.integers(0, 9).flatmap(lambda i: bad if i == 0 else good)


# Text of every kind: astral characters, escapes, now and then lone surrogates.
texts = mostly(st.text(max_size=12) | st.sampled_from(["", "\"\\\n\r\t\b\f\x00\x1f\x7f", "\u2028é😀"]),
               st.text(st.characters() | st.characters(categories=["Cs"]), max_size=12)
               | st.sampled_from(["\ud800", "a\udfffb", "\ud83d\ude00"]))
floats = st.floats() | st.sampled_from([1e16, 1e15, 1e-5, 1e-4, -0.0, 5e-324, 1.7976931348623157e308, 0.1])
ints = st.integers() | st.sampled_from([2**63 - 1, -(2**63), 2**63, 2**64 - 1, 2**64, -(2**64), 10**30]) | st.booleans()
# Whole-minute offsets (read natively), offsets with seconds (which the
# routes refuse) and a zone of the zone database (read through isoformat()).
timezones = st.none() | st.just(UTC) | st.builds(lambda m: dt.timezone(dt.timedelta(minutes=m)), st.integers(-1439, 1439)) \
    | st.builds(lambda s: dt.timezone(dt.timedelta(seconds=s)), st.integers(-86399, 86399)) \
    | st.just(dt.timezone(dt.timedelta(hours=1, microseconds=5))) | st.timezones()
json_values = st.recursive(
    st.none() | st.booleans() | ints | floats | texts,
    lambda inner: st.lists(inner, max_size=4) | st.lists(inner, max_size=3).map(tuple)
    | st.dictionaries(texts, inner, max_size=4)
    | st.dictionaries(st.integers() | st.floats() | st.booleans() | st.none(), inner, max_size=2),
    max_leaves=12)
unencodable = st.sampled_from([object(), {1, 2}, D("1.5"), b"x", (1, {2: [object()]}), {(1, 2): 3}])


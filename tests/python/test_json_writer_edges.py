"""The JSON writer's block scans, digit writer, plain-container pass and kept
keys and layouts, against json.dumps at the edges where their branches
change: text lengths around the 4-, 8- and 16-byte blocks, integers around
the compact and 64-bit limits, nesting around the plain pass's depth."""

import datetime as dt
import decimal
import uuid

import pytest

import zembra
from json_strategies import assert_same, dumps
from zembra_core import Field, Schema, serialize, serialize_many

SPECIALS = ['"', "\\", "\n", "\x00", "\x1f", "\x7f", "é", "\xff", "€", "😀"]


def texts_with(char):
    """Every length 0..40, char at every position, and all-char texts."""
    out = []
    for length in range(41):
        out.append("a" * length)
        out.append(char * length)
        out.extend("a" * at + char + "b" * (length - at - 1) for at in range(length))
    return out


@pytest.mark.parametrize("char", SPECIALS, ids=lambda c: f"U+{ord(c):04X}")
def test_text_at_every_block_position(char):
    texts = texts_with(char)
    assert zembra.encode_json(texts) == dumps(texts)
    # Latin-1 and ASCII strs mixed with an astral character take other kinds.
    assert zembra.encode_json([t + "😀" for t in texts]) == dumps([t + "😀" for t in texts])
    schema = Schema({"v": Field(str), "m": Field(dict)})
    records = [{"v": t, "m": {t: t}} for t in texts]
    assert zembra.serialize_many_json(records, schema) == dumps(serialize_many(records, schema))
    for record in records[::7]:
        assert zembra.serialize_json(record, schema) == dumps(serialize(record, schema))
    keyed = [{t: 1, "v": t, "m": {}} for t in texts]
    assert zembra.serialize_many_json(keyed, schema) == dumps(serialize_many(keyed, schema))


EDGE_INTS = [0, 1, -1, 9, 10, 99, 100, 2**30 - 1, 2**30, -(2**30), -(2**30) - 1, 2**31, 2**62, 2**63 - 1,
             -(2**63), -(2**63) - 1, 2**63, 2**64 - 1, 2**64, 10**19 - 1, 10**19, -(10**19), 10**30]
EDGE_INTS += [s * (10**k + d) for k in range(1, 20) for d in (-1, 0) for s in (1, -1)]


def test_integers_at_their_edges():
    assert zembra.encode_json(EDGE_INTS) == dumps(EDGE_INTS)
    schema = Schema({"i": Field(int)})
    records = [{"i": i} for i in EDGE_INTS]
    assert_same(lambda: zembra.serialize_many_json(records, schema), lambda: dumps(serialize_many(records, schema)))
    for record in records:
        assert_same(lambda: zembra.serialize_json(record, schema), lambda: dumps(serialize(record, schema)))


class Int(int):
    pass


def nest(depth, leaf, shape):
    value = leaf
    for level in range(depth):
        value = [value, 1] if shape(level) == "list" else {"k": value, "n": None}
    return value


LEAVES = [1.5, "é", 10**30, Int(3), float("nan"), {1: "non-str key"}, (1, 2), [], {}, decimal.Decimal("1.5"),
          object()]


def decimal_text(value):
    """encode_json's typed form of a Decimal, and the json module's error else."""
    if isinstance(value, decimal.Decimal):
        return str(value)
    raise TypeError(f"Object of type {type(value).__name__} is not JSON serializable")


@pytest.mark.parametrize("leaf", LEAVES, ids=repr)
@pytest.mark.parametrize("depth", [1, 7, 8, 9, 12])
def test_nesting_around_the_plain_pass(leaf, depth):
    for shape in (lambda level: "list", lambda level: "dict", lambda level: "list" if level % 2 else "dict"):
        value = nest(depth, leaf, shape)
        assert_same(lambda: zembra.encode_json(value), lambda: dumps(value, default=decimal_text))
        schema = Schema({"v": Field(list)})
        records = [{"v": value}, {"v": [value]}]
        assert_same(lambda: zembra.serialize_many_json(records, schema),
                    lambda: dumps(serialize_many(records, schema)))


def test_cycles_within_the_plain_pass():
    for depth in (1, 3, 7):
        top = box = []
        for _ in range(depth):
            box.append([])
            box = box[0]
        box.append(top)
        assert_same(lambda: zembra.encode_json(top), lambda: dumps(top))


def test_dict_route_keys_that_change_between_records():
    schema = Schema({"id": Field(int), "key": Field(uuid.UUID), "at": Field(dt.datetime)})
    at = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)
    records = []
    for i in range(3000):
        record = {"id": i, "key": uuid.UUID(int=i), "at": at}
        # Equal keys that are other objects, keys that differ at the same
        # position, escapes and non-ASCII, more entries than positions kept
        # and enough distinct keys to start the kept text over.
        record["".join(["na", "me"])] = i
        record[f"k{i % 5}\n\"é"] = i
        record[f"distinct {i:040d}"] = None
        if i % 100 == 0:
            record.update({f"wide{j}": j for j in range(70)})
        records.append(record)
    assert zembra.serialize_many_json(records, schema) == dumps(serialize_many(records, schema))
    # Converted fields found in their place beyond the 64th entry.
    wide = Schema({**{f"w{j}": Field(int) for j in range(70)}, "key": Field(uuid.UUID), "at": Field(dt.datetime)})
    records = [{**{f"w{j}": j for j in range(70)}, "key": uuid.UUID(int=i), "at": at} for i in range(3)]
    assert zembra.serialize_many_json(records, wide) == dumps(serialize_many(records, wide))


def test_calls_alternating_between_schemas():
    first = Schema({"a": Field(int), "b": Field(str)})
    same_names = Schema({"a": Field(str), "b": Field(int)})
    other = Schema({"b": Field(str), "c": Field(int), "a": Field(int)})
    record = {"a": 1, "b": "x", "c": 2}
    swapped = {"a": "1", "b": 2}
    for _ in range(3):
        for schema, value in ((first, record), (same_names, swapped), (other, record), (first, swapped)):
            assert_same(lambda: zembra.serialize_json(value, schema), lambda: dumps(serialize(value, schema)))


def uuid_holding(number):
    """A UUID whose int slot holds number, set past UUID's read-only guard."""
    value = uuid.UUID(int=1)
    object.__setattr__(value, "int", number)
    return value


def assert_uuids_written_as_str(values):
    schema = Schema({"key": Field(uuid.UUID)})
    records = [{"key": v} for v in values]
    expected = [{"key": str(v)} for v in values]
    assert zembra.serialize_many_json(records, schema) == dumps(expected)
    assert zembra.encode_json(values) == dumps([str(v) for v in values])
    for record, text in zip(records, expected):
        assert zembra.serialize_json(record, schema) == dumps(text)


def test_uuid_number_read_as_its_class_reads_it(monkeypatch):
    values = [uuid.UUID(int=0), uuid.UUID(int=2**128 - 1), uuid.uuid4(), uuid_holding(Int(7)), uuid_holding(True)]
    assert_uuids_written_as_str(values)
    # The class's own attribute changed after UUIDs were written: each value
    # is then what the class now reads, and the slot again once restored.
    monkeypatch.setattr(uuid.UUID, "int", property(lambda self: 12345))
    assert_uuids_written_as_str(values)
    monkeypatch.undo()
    assert_uuids_written_as_str(values)

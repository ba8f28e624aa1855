"""serialize_fields and validate_fields: descriptor dicts read back."""

import decimal

import pytest

import zembra_django as zd
from django_tests.test_serialize_model import EXPECTED, SCHEMA, VALUES

D = decimal.Decimal


def d(type_, **extra):
    return {"name": "v", "type": type_, "nullable": False, "has_default": False, **extra}


def errors(descriptor, value):
    return [e["message"] for e in zd.validate_fields([descriptor], [value])["errors"]]


def test_dicts_read_back_like_the_schema():
    descriptors = SCHEMA.to_descriptor_list()
    record = type("R", (), VALUES)()
    assert zd.serialize_fields(descriptors, VALUES) == zd.serialize_instance(record, SCHEMA) == {
        **EXPECTED, "price": "12.5"}
    assert zd.validate_fields(descriptors, list(VALUES.values())) == zd.validate_instance(record, SCHEMA)


@pytest.mark.parametrize("descriptor,value,expected", [
    # Length limits read back, with the defaults for missing or unusable ones.
    (d("CharField"), "x" * 256, ["Ensure this value has at most 255 characters (it has 256)."]),
    (d("CharField", max_length=-1), "x" * 255, []),
    (d("CharField", max_length="40"), "x" * 41, []),
    (d("EmailField"), "x" * 255, ["Ensure this value has at most 254 characters (it has 255)."]),
    (d("URLField"), "x" * 201, ["Ensure this value has at most 200 characters (it has 201)."]),
    (d("SlugField"), "x" * 51, ["Ensure this value has at most 50 characters (it has 51)."]),
    (d("TextField", max_length=1), "xx", []),
    (d("BinaryField"), b"x" * 1000, []),
    (d("BinaryField", max_length=2), b"abc", ["Ensure this value has at most 2 bytes (it has 3)."]),
    (d("DecimalField"), D("123456789.01"), ["Ensure that there are no more than 10 digits in total."]),
    (d("DecimalField", max_digits=3, decimal_places=2**32), D("1.005"), [
        "Ensure that there are no more than 3 digits in total.",
        "Ensure that there are no more than 2 decimal places."]),
    (d("IntegerField"), 2**31, ["Ensure this value is less than or equal to 2147483647."]),
    (d("BooleanField"), None, ["This field is required."]),
    ({**d("BooleanField"), "nullable": True}, None, []),
    ({**d("BooleanField"), "has_default": True}, None, []),
])
def test_validation_by_descriptor(descriptor, value, expected):
    assert errors(descriptor, value) == expected


@pytest.mark.parametrize("type_", ["SmallIntegerField", "NullBooleanField", "charfield", ""])
def test_unknown_type_texts_read_as_text(type_):
    with pytest.raises(TypeError, match="^type conversion error: expected str, got int$"):
        zd.serialize_fields([d(type_)], {"v": 1})
    assert zd.serialize_fields([d(type_)], {"v": "t"}) == {"v": "t"}


class Mapping:
    def __init__(self, **items):
        self.items = items

    def __getitem__(self, key):
        return self.items[key]


@pytest.mark.parametrize("descriptor,exc,message", [
    ({"name": "v", "type": "TextField", "has_default": False}, KeyError, "'nullable'"),
    ({**d("TextField"), "nullable": 1}, TypeError, "'int' object is not an instance of 'bool'"),
    ({**d("TextField"), "name": 5}, TypeError, "'int' object is not an instance of 'str'"),
    ({**d("TextField"), "type": None}, TypeError, "'None' is not an instance of 'str'"),
    (Mapping(name="v", type="TextField", nullable=False), KeyError, "'has_default'"),
    ("name", TypeError, "string indices must be integers, not 'str'"),
])
def test_bad_descriptors(descriptor, exc, message):
    for call in (lambda: zd.serialize_fields([descriptor], {}), lambda: zd.validate_fields([descriptor], [])):
        with pytest.raises(exc) as info:
            call()
        assert str(info.value) == message and not getattr(info.value, "__notes__", None)


def test_serialize_fields_values():
    descriptors = [d("IntegerField"), {**d("TextField"), "name": "n", "nullable": True},
                   Mapping(**{**d("DateField"), "name": "dd", "has_default": True})]
    out = zd.serialize_fields(descriptors, {"v": None, "x": 1})
    assert out == {"dd": None, "n": None, "v": None} and list(out) == ["dd", "n", "v"]
    with pytest.raises(ValueError) as info:
        zd.serialize_fields(descriptors, {"n": "x"})
    assert str(info.value) == "field 'v' is required but received null"

    class Hooked(dict):
        def __missing__(self, key):
            return 1

        def __getitem__(self, key):
            return 2
    assert zd.serialize_fields([{**d("IntegerField"), "has_default": True}], Hooked()) == {"v": None}
    # Duplicate names: the later descriptor's value wins, as in a JSON object.
    out = zd.serialize_fields([d("FloatField"), d("BigIntegerField")], {"v": 2})
    assert out == {"v": 2} and type(out["v"]) is int


@pytest.mark.parametrize("call,message,note", [
    (lambda: zd.serialize_fields((), {}), "'tuple' object is not an instance of 'list'", "field_descriptors"),
    (lambda: zd.serialize_fields([], [("v", 1)]), "'list' object is not an instance of 'dict'", "values"),
    (lambda: zd.validate_fields([], ()), "'tuple' object is not an instance of 'list'", "values"),
    (lambda: zd.validate_fields(None, ()), "'None' is not an instance of 'list'", "descriptors"),
])
def test_container_types(call, message, note):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message and info.value.__notes__ == [f"while processing '{note}'"]


def test_validate_fields_lengths():
    two = [d("IntegerField"), {**d("IntegerField"), "name": "w"}]
    with pytest.raises(IndexError, match="^list index out of range$"):
        zd.validate_fields(two, [1])
    assert zd.validate_fields(two, [1, 2, "ignored"])["valid_count"] == 2
    assert zd.validate_fields([], []) == {"valid_count": 0, "error_count": 0, "is_valid": True, "errors": []}

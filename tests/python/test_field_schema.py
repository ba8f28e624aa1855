"""Field and Schema: construction checks, messages, repr, len and property."""

import datetime
import decimal
import uuid

import pytest

from leakcheck import assert_no_leak
from zembra_core import Field, Schema

SCHEMA_PREFIX = "schema error: "


@pytest.mark.parametrize("kwargs,message", [
    (dict(python_type=str, max_digits=5), "Field(str) does not support max_digits/decimal_places."),
    (dict(python_type=str, min_value=1, max_digits=2),
     "Field(str) does not support min_value/max_value. Use max_length/min_length instead."),
    (dict(python_type=int, max_length=3),
     "Field(int) does not support max_length/min_length. Use min_value/max_value instead."),
    (dict(python_type=float, decimal_places=1), "Field(float) does not support max_digits/decimal_places."),
    (dict(python_type=decimal.Decimal, max_length=5, min_value=1),
     "Field(Decimal) does not support max_length/min_length. Use max_digits/decimal_places instead."),
    (dict(python_type=decimal.Decimal, max_value=1),
     "Field(Decimal) does not support min_value/max_value. Use max_digits/decimal_places instead."),
    (dict(python_type=bytes, max_digits=3), "Field(bytes) only supports max_length. Not min_value/max_value or max_digits."),
    (dict(python_type=bytes, min_value=3), "Field(bytes) only supports max_length. Not min_value/max_value or max_digits."),
    (dict(python_type=bool, max_length=1), "Field(bool) does not support constraints. Only nullable and default are valid."),
    (dict(python_type=uuid.UUID, decimal_places=1), "Field(UUID) does not support constraints. Only nullable and default are valid."),
    (dict(python_type=datetime.time, min_value=0), "Field(time) does not support constraints. Only nullable and default are valid."),
    (dict(python_type=set), "unsupported type: 'set'. Supported: str, int, float, bool, Decimal, datetime, date, time, UUID, list, dict, bytes"),
    (dict(python_type=set, max_length=3), "unsupported type: 'set'. Supported: str, int, float, bool, Decimal, datetime, date, time, UUID, list, dict, bytes"),
])
def test_constraint_misfits_are_schema_errors(kwargs, message):
    with pytest.raises(ValueError) as info:
        Field(**kwargs)
    assert str(info.value) == SCHEMA_PREFIX + message


@pytest.mark.parametrize("kwargs,text", [
    (dict(python_type=int, min_value=0), "Field(int, nullable=false)"),
    (dict(python_type=decimal.Decimal, nullable=True), "Field(Decimal, nullable=true)"),
    (dict(python_type=bytes, min_length=2), "Field(bytes, nullable=false)"),
    (dict(python_type=bool, nullable=True, default=True), "Field(bool, nullable=true)"),
    (dict(python_type=str, max_length=None, nullable=False), "Field(str, nullable=false)"),
    (dict(python_type=float, min_value=1, max_value=True), "Field(float, nullable=false)"),
    (dict(python_type=datetime.datetime), "Field(datetime, nullable=false)"),
    (dict(python_type=str, min_length=9, max_length=1), "Field(str, nullable=false)"),
])
def test_valid_fields_and_repr(kwargs, text):
    assert repr(Field(**kwargs)) == text


def test_name_decides_the_kind():
    class MyStr(str):
        pass
    with pytest.raises(ValueError, match="unsupported type: 'MyStr'"):
        Field(MyStr)
    fake = type("Decimal", (), {})
    assert repr(Field(fake, max_digits=3)) == "Field(Decimal, nullable=false)"


@pytest.mark.parametrize("kwargs,exc,message,note", [
    (dict(python_type="str"), AttributeError, None, None),
    (dict(python_type=int, min_value=1.5), TypeError, "'float' object cannot be interpreted as an integer", None),
    (dict(python_type=int, max_value=2**63), OverflowError, None, None),
    (dict(python_type=float, min_value="1"), TypeError, None, None),
    (dict(python_type=float, max_value=10**400), OverflowError, None, None),
    (dict(python_type=str, nullable=None), TypeError, "'None' is not an instance of 'bool'", "nullable"),
    (dict(python_type=str, default=1), TypeError, "'int' object is not an instance of 'bool'", "default"),
    (dict(python_type=str, max_length=-1), OverflowError, None, "max_length"),
    (dict(python_type=str, min_length=2**64), OverflowError, None, "min_length"),
    (dict(python_type=str, max_length="3"), TypeError, None, "max_length"),
    (dict(python_type=decimal.Decimal, max_digits=2**32), OverflowError,
     "out of range integral type conversion attempted", "max_digits"),
    (dict(python_type=decimal.Decimal, decimal_places=-1), OverflowError,
     "out of range integral type conversion attempted", "decimal_places"),
    (dict(python_type=decimal.Decimal, decimal_places=2**80), OverflowError, None, "decimal_places"),
])
def test_argument_conversion_errors(kwargs, exc, message, note):
    with pytest.raises(exc) as info:
        Field(**kwargs)
    if message is not None:
        assert str(info.value) == message
    assert getattr(info.value, "__notes__", None) == ([f"while processing '{note}'"] if note else None)


def test_conversions_run_in_parameter_order():
    # max_length is converted before nullable, and __name__ is read last.
    with pytest.raises(OverflowError):
        Field("not a type", max_length=-1, nullable=None)


@pytest.mark.parametrize("hook", ["__name__", "__index__", "__bool__"])
def test_raising_hooks_give_clean_exceptions(hook):
    class Boom(Exception):
        pass

    class Meta(type):
        @property
        def __name__(cls):
            raise Boom()

    class Index:
        def __index__(self):
            raise Boom()

    with pytest.raises(Boom):
        if hook == "__name__":
            Field(Meta("X", (), {}))
        elif hook == "__index__":
            Field(str, max_length=Index())
        else:
            np = pytest.importorskip("numpy")
            Field(str, nullable=np.bool_(True)) and (_ for _ in ()).throw(Boom())


def test_non_text_name_is_a_type_error():
    class Odd:
        __name__ = 5
    with pytest.raises(TypeError, match=r"^'int' object is not an instance of 'str'$"):
        Field(Odd())


def test_name_with_lone_surrogate_raises_encoding_error():
    odd = type("x", (), {})()
    odd.__name__ = "\ud800"
    with pytest.raises(UnicodeEncodeError):
        Field(odd)


def test_numpy_booleans_are_accepted_as_flags():
    np = pytest.importorskip("numpy")
    assert repr(Field(str, nullable=np.bool_(True))) == "Field(str, nullable=true)"


def test_field_has_no_attributes_and_compares_by_identity():
    f = Field(str)
    assert f != Field(str) and f == f
    with pytest.raises(AttributeError):
        f.nullable = True
    with pytest.raises(TypeError):
        Field.extra = 1
    assert Field.__module__ == "builtins" and Field.__name__ == "Field"


class TestSchema:
    def test_empty_schema(self):
        s = Schema({})
        assert (len(s), repr(s), s.field_names_list, bool(s)) == (0, "Schema(0 fields)", [], False)

    def test_declaration_order_and_repr(self):
        s = Schema({"b": Field(int), "a": Field(str)})
        assert s.field_names_list == ["b", "a"]
        assert repr(s) == "Schema(2 fields)" and len(s) == 2
        assert repr(Schema({"x": Field(int)})) == "Schema(1 fields)"

    def test_keyword_passing_and_dict_subclass(self):
        class D(dict):
            def items(self):
                raise AssertionError("storage is read directly")

            def __iter__(self):
                raise AssertionError("storage is read directly")
        s = Schema(fields=D(a=Field(str), b=Field(int)))
        assert s.field_names_list == ["a", "b"]

    @pytest.mark.parametrize("arg,message,note", [
        ([("a", Field(str))], "'list' object is not an instance of 'dict'", "fields"),
        (None, "'None' is not an instance of 'dict'", "fields"),
        ({1: Field(str)}, "'int' object is not an instance of 'str'", None),
        ({"a": str}, "'type' object is not an instance of 'Field'", None),
        ({"a": Field(str), "b": 1}, "'int' object is not an instance of 'Field'", None),
    ])
    def test_construction_errors(self, arg, message, note):
        with pytest.raises(TypeError) as info:
            Schema(arg)
        assert str(info.value) == message
        assert getattr(info.value, "__notes__", None) == ([f"while processing '{note}'"] if note else None)

    def test_lone_surrogate_key(self):
        with pytest.raises(UnicodeEncodeError):
            Schema({"\udc80": Field(str)})

    def test_str_subclass_keys_are_accepted(self):
        class K(str):
            pass
        assert Schema({K("k"): Field(str)}).field_names_list == ["k"]

    def test_schema_does_not_follow_later_changes(self):
        fields = {"a": Field(str)}
        s = Schema(fields)
        fields["b"] = Field(int)
        del fields["a"]
        assert s.field_names_list == ["a"]

    def test_field_names_list_is_fresh_and_read_only(self):
        s = Schema({"a": Field(str)})
        names = s.field_names_list
        names.append("z")
        assert s.field_names_list == ["a"]
        with pytest.raises(AttributeError):
            s.field_names_list = []
        assert type(s).field_names_list.__doc__ == "Returns the list of field names in declaration order."


DOCS = {
    Field: "Field(python_type, *, max_length=None, min_length=None, min_value=None, max_value=None, max_digits=None, "
           "decimal_places=None, nullable=False, default=False)\n--\n\nDefines a single field's type and constraints."
           "\n\nPython usage:\n```python\nfrom zembra_core import Field\nfrom decimal import Decimal\nfrom datetime "
           "import datetime\n\nField(str, max_length=100)\nField(int, min_value=0, max_value=150)\nField(Decimal, "
           "max_digits=10, decimal_places=2)\nField(datetime)\nField(str, nullable=True)\n```",
    Schema: "Schema(fields)\n--\n\nA compiled schema that caches field descriptors for repeated use.\n\nBuilt once "
            "from a dict of field definitions, then reused on every\nserialize/validate call with zero per-call "
            "parsing overhead.\n\nPython usage:\n```python\nfrom zembra_core import Schema, Field\nschema = "
            "Schema({\"name\": Field(str, max_length=100), \"age\": Field(int)})\n```",
}


@pytest.mark.parametrize("cls", [Field, Schema])
def test_class_docstrings(cls):
    # The interpreter strips the signature header from __doc__.
    assert cls.__doc__ == DOCS[cls].split("\n--\n\n", 1)[1]
    assert cls.__text_signature__ == "(" + DOCS[cls].split("(", 1)[1].split(")\n--", 1)[0] + ")"


@pytest.mark.parametrize("make", [
    lambda: Field(int, min_value=0, max_value=9),
    lambda: Field(set),
    lambda: Field(str, nullable=None),
    lambda: Field(str, max_digits=1),
    lambda: Schema({"a": Field(str), "b": Field(decimal.Decimal)}),
    lambda: Schema({"a": 1}),
    lambda: repr(Schema({"a": Field(str)})) + repr(Field(str)),
    lambda: Schema({"a": Field(str)}).field_names_list,
])
def test_construction_does_not_leak(make):
    assert_no_leak(make)

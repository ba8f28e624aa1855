"""Reading model classes: extract_model_fields, ModelSchema and the module."""

import inspect

import pytest

import zembra_django as zd
from django_tests.standins import _UNSET, StandinField, meta_returning, standin_model
from django_tests.testapp.models import Everything, Ordered, Owner


def d(name, type_, nullable=False, has_default=False, **extra):
    return {"name": name, "type": type_, "nullable": nullable, "has_default": has_default, **extra}


EVERYTHING = [
    d("title", "CharField", max_length=20), d("body", "TextField"), d("count", "IntegerField"),
    d("small", "IntegerField", has_default=True), d("positive", "IntegerField", nullable=True),
    d("big", "BigIntegerField"), d("ratio", "FloatField"),
    d("price", "DecimalField", max_digits=6, decimal_places=2), d("active", "BooleanField", has_default=True),
    d("day", "DateField"), d("at", "TimeField"), d("created", "DateTimeField"),
    d("key", "UUIDField", has_default=True), d("data", "JSONField", nullable=True),
    d("blob", "BinaryField", nullable=True, max_length=16), d("raw", "BinaryField", nullable=True),
    # Django reports email and URL fields as CharField.
    d("email", "CharField", max_length=254), d("site", "CharField", max_length=200),
    d("slug", "SlugField", max_length=50),
]


def test_real_models():
    # The automatic key, the relations (both directions) and the file,
    # duration and address fields are left out.
    assert [list(x.items()) for x in zd.extract_model_fields(Everything)] == [list(x.items()) for x in EVERYTHING]
    schema = zd.ModelSchema(Everything)
    assert schema.to_descriptor_list() == EVERYTHING
    assert schema.field_names_list == [x["name"] for x in EVERYTHING]
    assert (schema.model_name_str, repr(schema)) == ("Everything", "ModelSchema(Everything, 19 fields)")
    assert zd.ModelSchema(Owner).field_names_list == ["name"]


def test_schema_objects():
    schema = zd.ModelSchema(model_class=Ordered)
    first, second = schema.to_descriptor_list(), schema.to_descriptor_list()
    assert first == second and first is not second
    first.clear()
    assert schema.to_descriptor_list() == second
    assert (type(schema).__name__, type(schema).__module__) == ("ModelSchema", "builtins")
    for prop in ("field_names_list", "model_name_str"):
        with pytest.raises(AttributeError):
            setattr(schema, prop, [])
    empty = zd.ModelSchema(standin_model(StandinField("f", "AutoField"), name="E"))
    assert (empty.field_names_list, repr(empty)) == ([], "ModelSchema(E, 0 fields)")
    nameless = standin_model(StandinField("a"))()  # an instance: no __name__, but a usable _meta
    assert zd.ModelSchema(nameless).model_name_str == "UnknownModel"


@pytest.mark.parametrize("field,expected", [
    (StandinField("x", is_relation=0), None),
    (StandinField("x", is_relation=_UNSET), None),
    (StandinField("x", is_relation=True), None),
    (StandinField("x", ""), None),
    (StandinField("x", RuntimeError("no type")), None),
    (StandinField("x", b"CharField"), None),
    (StandinField("x", "charfield"), None),
    (StandinField("x", "NullBooleanField", null="yes"), d("x", "BooleanField")),
    (StandinField("x", "PositiveBigIntegerField", default=RuntimeError()), d("x", "BigIntegerField")),
    (StandinField("x", "TextField", null=True, default=1), d("x", "TextField", nullable=True)),
    (StandinField("x", "CharField", max_length=None), d("x", "CharField", max_length=255)),
    (StandinField("x", "CharField", max_length=-1), d("x", "CharField", max_length=255)),
    (StandinField("x", "EmailField", max_length="40"), d("x", "EmailField", max_length=254)),
    (StandinField("x", "URLField", max_length=2**64), d("x", "URLField", max_length=200)),
    (StandinField("x", "SlugField", max_length=2**64 - 1), d("x", "SlugField", max_length=2**64 - 1)),
    (StandinField("x", "BinaryField", max_length=None), d("x", "BinaryField")),
    (StandinField("x", "DecimalField", max_digits=-1, decimal_places=2**32 - 1),
     d("x", "DecimalField", max_digits=10, decimal_places=2**32 - 1)),
    (StandinField("x", "DecimalField", max_digits=5, decimal_places=2**32),
     d("x", "DecimalField", max_digits=5, decimal_places=2)),
])
def test_field_attributes(field, expected):
    assert zd.extract_model_fields(standin_model(field)) == ([expected] if expected else [])


class Raises:
    @property
    def _meta(self):
        raise RuntimeError("boom")


def failing_iteration():
    yield StandinField("a")
    raise KeyError("k")


class LazySeq:
    """A sequence that is neither a list nor a tuple."""
    def __len__(self):
        return 1

    def __getitem__(self, i):
        if i:
            raise IndexError
        return StandinField("a")


@pytest.mark.parametrize("model,message", [
    (5, "model class has no _meta attribute"),
    (Raises(), "model class has no _meta attribute"),
    (type("M", (), {"_meta": object()}),
     "_meta.get_fields() failed: AttributeError: 'object' object has no attribute 'get_fields'"),
    (type("M", (), {"_meta": type("Meta", (), {"get_fields": lambda self: 1 / 0})()}),
     "_meta.get_fields() failed: ZeroDivisionError: division by zero"),
    (meta_returning("ab"),
     "cannot iterate _meta.get_fields(): TypeError: 'str' object cannot be read as a sequence of items"),
    (meta_returning(7), "cannot iterate _meta.get_fields(): TypeError: 'int' object is not an instance of 'Sequence'"),
    (meta_returning(type("S", (LazySeq,), {"__iter__": lambda self: failing_iteration()})()),
     "cannot iterate _meta.get_fields(): KeyError: 'k'"),
    (standin_model(StandinField(5)), "field missing 'name': TypeError: 'int' object is not an instance of 'str'"),
    (standin_model(type("F", (), {"is_relation": False})()),
     "field missing 'name': AttributeError: 'F' object has no attribute 'name'"),
])
def test_reading_failures(model, message):
    for call in (zd.extract_model_fields, zd.ModelSchema):
        with pytest.raises(ValueError) as info:
            call(model)
        assert str(info.value) == message


def test_other_sequences_and_interrupts(panic_exception, testing_module):
    assert zd.extract_model_fields(standin_model()) == []
    assert zd.extract_model_fields(meta_returning([StandinField("a")])) == [d("a", "TextField")]
    assert zd.extract_model_fields(meta_returning(LazySeq())) == [d("a", "TextField")]

    class Interrupting:
        @property
        def _meta(self):
            raise KeyboardInterrupt

    class Panicking(StandinField):
        @property
        def is_relation(self):
            testing_module.fault("inside")

    with pytest.raises(KeyboardInterrupt):
        zd.ModelSchema(Interrupting())
    with pytest.raises(panic_exception):
        zd.extract_model_fields(standin_model(Panicking("a", is_relation=_UNSET)))


def test_module_contents_and_signatures():
    assert zd.__all__ == ["ModelSchema", "serialize_instance", "serialize_batch", "serialize_values_list",
                          "validate_instance", "extract_model_fields", "serialize_fields", "validate_fields",
                          "version"]
    assert zd.version() == "1.0.1"
    signatures = [str(inspect.signature(getattr(zd, name))) for name in zd.__all__]
    assert signatures == ["(model_class)", "(instance, schema)", "(instances, schema)", "(rows, schema)",
                          "(instance, schema)", "(model_class)", "(field_descriptors, values)",
                          "(descriptors, values)", "()"]
    assert str(inspect.signature(zd.ModelSchema.to_descriptor_list)) == "(self, /)"


@pytest.mark.parametrize("call,message", [
    (lambda: zd.ModelSchema(), "ModelSchema.__new__() missing 1 required positional argument: 'model_class'"),
    (lambda: zd.ModelSchema(Ordered, 1), "ModelSchema.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: zd.serialize_instance(None, schema=Ordered), "'ModelBase' object is not an instance of 'ModelSchema'"),
    (lambda: zd.validate_instance(None, None), "'None' is not an instance of 'ModelSchema'"),
    (lambda: zd.serialize_fields([], {}, values={}), "serialize_fields() got multiple values for argument 'values'"),
])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    if "instance of" in message:
        assert info.value.__notes__ == ["while processing 'schema'"]

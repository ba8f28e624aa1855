"""Which read failures mean "absent", and which result dicts the garbage
collector may skip, on every route of both modules."""

import gc
import types
from decimal import Decimal

import pytest
import zembra_django as zd
from zembra_core import Field, Schema, serialize, serialize_many, validate, validate_many

SCHEMA = Schema({"a": Field(str, nullable=True), "b": Field(int)})


class Descriptor:
    """A record whose attribute `a` raises the given exception."""

    def __init__(self, exc):
        self.exc = exc
        self.b = 1

    def __getattr__(self, name):
        raise self.exc


def model_schema():
    from django_tests.testapp.models import Ordered
    return zd.ModelSchema(Ordered)


ROUTES = {
    "serialize": lambda rec: serialize(rec, SCHEMA),
    "validate": lambda rec: validate(rec, SCHEMA),
    "serialize_many": lambda rec: serialize_many([rec], SCHEMA),
    "validate_many": lambda rec: validate_many([rec], SCHEMA),
    "serialize_instance": lambda rec: zd.serialize_instance(rec, model_schema()),
    "serialize_batch": lambda rec: zd.serialize_batch([rec], model_schema()),
    "validate_instance": lambda rec: zd.validate_instance(rec, model_schema()),
}


class ModelRecord(Descriptor):
    zeta = 1

    def __getattr__(self, name):
        if name == "alpha":
            raise self.exc
        raise AttributeError(name)


def record_for(route, exc):
    return ModelRecord(exc) if route.endswith(("instance", "batch")) else Descriptor(exc)


@pytest.mark.usefixtures("db")
@pytest.mark.parametrize("route", ROUTES)
def test_only_attribute_errors_mean_absent(route):
    class Gone(AttributeError):
        pass

    for exc in (AttributeError("a"), Gone("a")):
        ROUTES[route](record_for(route, exc))  # absent: nullable, so no error
    for exc in (RuntimeError("deferred load failed"), KeyError("a"), KeyboardInterrupt()):
        with pytest.raises(type(exc)) as info:
            ROUTES[route](record_for(route, exc))
        assert info.value is exc


def test_failed_deferred_load_propagates(db):
    from django_tests.testapp.models import Ordered
    Ordered.objects.create(zeta=1, alpha="a", mid="text")
    row = Ordered.objects.only("zeta").get()
    Ordered.objects.all().delete()  # the deferred load now fails
    schema = model_schema()
    for call in (zd.serialize_instance, zd.validate_instance):
        with pytest.raises(Ordered.DoesNotExist):
            call(row, schema)


class Sized:
    """A bytes-like sequence whose size query raises."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        raise self.exc

    def __getitem__(self, i):
        if i < 3:
            return 65
        raise IndexError(i)


BYTES_ROUTES = {
    "serialize": lambda v: serialize({"a": v}, Schema({"a": Field(bytes)}))["a"],
    "validate": lambda v: validate({"a": v}, Schema({"a": Field(bytes)}))["is_valid"],
    "serialize_fields": lambda v: zd.serialize_fields(
        [{"name": "a", "type": "BinaryField", "nullable": False, "has_default": False}], {"a": v})["a"],
    "validate_fields": lambda v: zd.validate_fields(
        [{"name": "a", "type": "BinaryField", "nullable": False, "has_default": False}], [v])["is_valid"],
}


@pytest.mark.parametrize("route", BYTES_ROUTES)
def test_size_query_failures(route):
    # A TypeError from the size query is discarded, as bytes() does.
    assert BYTES_ROUTES[route](Sized(TypeError())) in ("QUFB", True)
    for exc in (KeyboardInterrupt(), SystemExit(8)):
        with pytest.raises(type(exc)):
            BYTES_ROUTES[route](Sized(exc))
    # Other ordinary errors: the core routes pass them on, the Django module
    # reports the value as not convertible.
    with pytest.raises(TypeError if route.endswith("fields") else ValueError):
        BYTES_ROUTES[route](Sized(ValueError("size")))


def live_dicts():
    gc.collect()
    return sum(type(o) is dict for o in gc.get_objects())


CYCLES = {
    "serialize": lambda: serialize({"meta": {"a": 1}, "p": Decimal(1)},
                                   Schema({"meta": Field(dict), "p": Field(Decimal)})),
    "serialize_many": lambda: serialize_many([{"meta": {"a": 1}, "p": Decimal(1)}],
                                             Schema({"meta": Field(dict), "p": Field(Decimal)}))[0],
    "serialize_many_shared": lambda: serialize_many([{"meta": {"a": 1}, "p": Decimal(1)}],
                                                    Schema({"p": Field(Decimal)}))[0],
    "serialize_instance": lambda: zd.serialize_instance(types.SimpleNamespace(data={"a": 1}),
                                                        zd.ModelSchema(json_model())),
}


def json_model():
    from django_tests.testapp.models import Everything
    return types.new_class("JsonOnly", (), {}, lambda ns: ns.update(_meta=types.SimpleNamespace(
        get_fields=lambda: [f for f in Everything._meta.get_fields() if getattr(f, "name", "") == "data"])))


@pytest.mark.usefixtures("db")
@pytest.mark.parametrize("route", CYCLES)
def test_cycles_through_results_are_collected(route):
    make = CYCLES[route]
    for _ in range(50):
        r = make()
        nested = next(v for v in r.values() if isinstance(v, dict))
        nested["parent"] = r
    before = live_dicts()
    for _ in range(2000):
        r = make()
        nested = next(v for v in r.values() if isinstance(v, dict))
        nested["parent"] = r
    del r, nested
    assert live_dicts() - before < 100

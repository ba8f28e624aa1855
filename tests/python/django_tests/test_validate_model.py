"""validate_instance against real Django instances, its messages compared
with those of Django's own validators."""

import datetime as dt
import decimal
import types

import pytest
from django.core import validators
from django.core.exceptions import ValidationError

import zembra_django as zd
from django_tests.standins import StandinField, standin_model, wide_model
from django_tests.testapp.models import Everything, Ordered
from django_tests.test_serialize_model import SCHEMA, VALUES

D = decimal.Decimal
N = len(SCHEMA.field_names_list)


def errors_of(report):
    return [(e["field"], e["message"], e["code"], e["params"]) for e in report["errors"]]


def django_errors(instance):
    try:
        instance.clean_fields()
    except ValidationError as e:
        return [(f, err.messages[0], err.code) for f, errs in e.error_dict.items() for err in errs]
    return []


def valid_instance(**changes):
    return Everything(**{**VALUES, "data": {"a": 1}, **changes})


@pytest.mark.parametrize("changes", [
    dict(title="x" * 25),
    dict(price=D("1.234")),
    dict(price=D("12345.67")),
    dict(title="é" * 21, price=D("0.001")),
])
def test_messages_match_django(db, changes):
    instance = valid_instance(**changes)
    ours = [(f, m, c) for f, m, c, _ in errors_of(zd.validate_instance(instance, SCHEMA))]
    assert ours == django_errors(instance) and ours


@pytest.mark.parametrize("value,validator", [
    (2**31, validators.MaxValueValidator(2**31 - 1)),
    (-(2**31) - 1, validators.MinValueValidator(-(2**31))),
])
def test_integer_range_messages_match_django_validators(value, validator):
    # SQLite lets IntegerField hold 64 bits, so its model field attaches no
    # 32-bit validators; Django attaches these on backends with 32-bit columns.
    with pytest.raises(ValidationError) as info:
        validator(value)
    report = zd.validate_instance(valid_instance(count=value, small=value, big=value), SCHEMA)
    assert [(f, m, c) for f, m, c, _ in errors_of(report)] == [
        (name, info.value.messages[0], info.value.code) for name in ("count", "small")]


def test_report_counts_and_params(db):
    assert zd.validate_instance(valid_instance(), SCHEMA) == {"valid_count": N, "error_count": 0, "is_valid": True,
                                                              "errors": []}
    loaded = Everything.objects.create(**{**VALUES, "data": [1]})
    assert zd.validate_instance(Everything.objects.get(pk=loaded.pk), SCHEMA)["is_valid"]
    report = zd.validate_instance(valid_instance(price=D("12345.678"), title="x" * 21), SCHEMA)
    assert list(report) == ["valid_count", "error_count", "is_valid", "errors"]
    assert (report["valid_count"], report["error_count"], report["is_valid"]) == (N - 2, 3, False)
    assert errors_of(report) == [
        ("title", "Ensure this value has at most 20 characters (it has 21).", "max_length",
         {"max_length": "20", "length": "21"}),
        ("price", "Ensure that there are no more than 6 digits in total.", "max_digits", {"max_digits": "6"}),
        ("price", "Ensure that there are no more than 2 decimal places.", "max_decimal_places",
         {"decimal_places": "2"})]


@pytest.mark.parametrize("data", [[1, 2], "text", 3, 2.5, True, {"a": {"b": [None]}}, (1, 2), {1: "x"}])
def test_json_fields_hold_any_json_value(data):
    assert zd.validate_instance(valid_instance(data=data), SCHEMA)["is_valid"]


@pytest.mark.parametrize("changes,exc,message", [
    (dict(count="12"), TypeError, "type conversion error: expected int, got str"),
    (dict(price="abc"), ValueError, "serialization error on field 'price': cannot parse 'abc' as Decimal"),
    (dict(data={1, 2}), ValueError, "serialization error on field 'data': json.dumps failed: TypeError: Object of "
                                    "type set is not JSON serializable"),
])
def test_unreadable_values_raise(changes, exc, message):
    with pytest.raises(exc) as info:
        zd.validate_instance(types.SimpleNamespace(**{**VALUES, **changes}), SCHEMA)
    assert str(info.value) == message


def test_missing_attributes_are_null(testing_module, panic_exception):
    class Record:
        zeta = 1

        @property
        def mid(self):
            raise AttributeError("no")
    report = zd.validate_instance(Record(), zd.ModelSchema(Ordered))
    assert report["is_valid"] and report["valid_count"] == 3
    required = zd.validate_instance(types.SimpleNamespace(), zd.ModelSchema(Ordered))
    assert errors_of(required) == [("zeta", "This field is required.", "required", {})]

    class Panicking:
        @property
        def zeta(self):
            testing_module.fault("attr")
    with pytest.raises(panic_exception):
        zd.validate_instance(Panicking(), zd.ModelSchema(Ordered))


@pytest.mark.parametrize("width", [0, 1, 127, 128, 300])
def test_wide_models_on_the_pool_give_the_sequential_report(width):
    schema = zd.ModelSchema(wide_model(width))
    values = {f"f{i:03d}": (2**31 if i % 3 == 0 else i) for i in range(width)}
    report = zd.validate_instance(types.SimpleNamespace(**values), schema)
    failing = [name for name, v in values.items() if v == 2**31]
    assert [e["field"] for e in report["errors"]] == failing
    assert (report["valid_count"], report["error_count"]) == (width - len(failing), len(failing))
    assert zd.validate_fields(schema.to_descriptor_list(), list(values.values())) == report

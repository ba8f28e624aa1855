"""validate_instance against Django's clean_fields(): where the two agree
(same fields, codes and messages) and the documented places where they
differ. The README's table of differences mirrors this one."""

from decimal import Decimal as D

import pytest
import zembra_django as zd
from django.core.exceptions import ValidationError
from django.db import models


class Checked(models.Model):
    c = models.CharField(max_length=5)
    t = models.TextField(null=True)
    i = models.IntegerField(null=True)
    si = models.SmallIntegerField(null=True)
    pi = models.PositiveIntegerField(null=True)
    bi = models.BigIntegerField(null=True)
    d = models.DecimalField(max_digits=5, decimal_places=2, null=True)
    d1 = models.DecimalField(max_digits=1, decimal_places=0, null=True)
    b = models.BinaryField(max_length=3, null=True)
    e = models.EmailField(null=True)

    class Meta:
        app_label = "testapp"


BASE = dict(c="ab", t="x", i=1, si=1, pi=1, bi=1, d=D("1.00"), d1=D(1), b=b"ab", e="a@b.co")


def django_errors(instance):
    try:
        instance.clean_fields()
    except ValidationError as exc:
        return {name: [(e.code, e.message % (e.params or {})) for e in errs] for name, errs in exc.error_dict.items()}
    return {}


def our_errors(instance):
    out = {}
    for error in zd.validate_instance(instance, zd.ModelSchema(Checked))["errors"]:
        out.setdefault(error["field"], []).append((error["code"], error["message"]))
    return out


@pytest.mark.parametrize("field,value", [
    ("c", "abcde"), ("c", "abcdef"), ("i", 2**31 - 1), ("i", 2**31), ("i", -2**31), ("i", -2**31 - 1),
    ("pi", 2**31), ("d", D("999.99")), ("d", D("1.234")), ("d", D("123456")), ("d1", D("0.1")),
])
def test_agrees_with_clean_fields(field, value):
    from django.db import connection
    internal = Checked._meta.get_field(field).get_internal_type()
    if field in ("i", "pi") and connection.ops.integer_field_range(internal) != (-2**31, 2**31 - 1):
        pytest.skip(f"{connection.vendor} gives {internal} other bounds than the 32-bit ones checked here")
    instance = Checked(**{**BASE, field: value})
    assert our_errors(instance) == django_errors(instance)


EMPTY = {}
DIFFERENCES = [
    # null on a field without null=True: Django's code "null", ours "required"
    ("c", None, {"c": [("required", "This field is required.")]}),
    # blank, choices and the field's validators are not checked
    ("c", "", EMPTY), ("t", None, EMPTY), ("e", "nope", EMPTY),
    # every integer alias of 32 bits shares the IntegerField bounds
    ("si", 40000, EMPTY), ("pi", -1, EMPTY),
    # no whole-digits check
    ("d", D("1234.5"), EMPTY),
    # digits and places both reported; singular wording not used
    ("d", D("12345.678"), {"d": [("max_digits", "Ensure that there are no more than 5 digits in total."),
                                 ("max_decimal_places", "Ensure that there are no more than 2 decimal places.")]}),
    ("d1", D("10"), {"d1": [("max_digits", "Ensure that there are no more than 1 digits in total.")]}),
    # leading zeros of a fraction are not counted as digits
    ("d", D("0.000001"), {"d": [("max_decimal_places", "Ensure that there are no more than 2 decimal places.")]}),
    # binary lengths are counted in bytes
    ("b", b"abcd", {"b": [("max_length", "Ensure this value has at most 3 bytes (it has 4).")]}),
]


@pytest.mark.parametrize("field,value,ours", DIFFERENCES)
def test_documented_differences(field, value, ours):
    from django.db import connection
    instance = Checked(**{**BASE, field: value})
    assert our_errors(instance) == ours
    if field not in ("si", "pi") or connection.vendor != "sqlite":  # SQLite leaves Django unbounded there too
        assert django_errors(instance) != ours


@pytest.mark.parametrize("field,value,exc", [("bi", 2**63, TypeError), ("d", D("NaN"), ValueError)])
def test_values_django_reports_but_we_raise_on(field, value, exc):
    instance = Checked(**{**BASE, field: value})
    assert field in django_errors(instance)
    with pytest.raises(exc):
        zd.validate_instance(instance, zd.ModelSchema(Checked))

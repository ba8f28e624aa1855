"""Django REST framework as the reference for zembra.parse_input: the same
field list as a plain Serializer, the same body through its JSON parser,
and both answers in one comparable form."""

import datetime as dt
import decimal
import io
import json

from django.db import models
from rest_framework import exceptions, parsers, serializers as s

import zembra

D = decimal.Decimal

# The related model's primary key, read as a real lookup reads it.
KEY_FIELDS = {"integer": models.BigAutoField(primary_key=True), "string": models.CharField(max_length=50),
              "uuid": models.UUIDField()}


class Key:
    """What a lookup found: the key itself (existence is not at stake)."""

    def __init__(self, value):
        self.pk = value


class KeyQuerySet:
    def __init__(self, key_kind):
        self.field = KEY_FIELDS[key_kind]

    def all(self):
        return self

    def get(self, pk):
        try:
            return Key(self.field.get_prep_value(pk))
        except OverflowError:  # int(inf): a server error in the framework, a wrong type for us
            raise TypeError from None


class ZonedDateTimeField(s.DateTimeField):
    """A DateTimeField whose zone may also be None (naive): the constructor
    takes None for "the settings' zone"."""

    def __init__(self, zone=None, **kwargs):
        super().__init__(**kwargs)
        self.timezone = zone


def drf_field(spec):
    kind = spec["kind"]
    common = {k: spec[k] for k in ("required", "allow_null", "validators") if k in spec}
    text = {k: spec[k] for k in ("max_length", "min_length", "allow_blank", "trim_whitespace") if k in spec}
    bounds = {k: spec[k] for k in ("max_value", "min_value") if k in spec}
    make = {
        "integer": lambda: s.IntegerField(**common, **bounds),
        "float": lambda: s.FloatField(**common, **bounds),
        "decimal": lambda: s.DecimalField(spec.get("max_digits"), spec.get("decimal_places"), **common, **bounds),
        "boolean": lambda: s.BooleanField(**common),
        "string": lambda: s.CharField(**common, **text),
        "email": lambda: s.EmailField(**common, **text),
        "url": lambda: s.URLField(**common, **text),
        "slug": lambda: s.SlugField(allow_unicode=spec.get("allow_unicode", False), **common, **text),
        "ip": lambda: s.IPAddressField(protocol=spec.get("protocol", "both"), **common, **text),
        "uuid": lambda: s.UUIDField(**common),
        "date": lambda: s.DateField(**common),
        "time": lambda: s.TimeField(**common),
        "datetime": lambda: ZonedDateTimeField(zone=spec.get("default_timezone"), **common),
        "duration": lambda: s.DurationField(**common, **bounds),
        "json": lambda: s.JSONField(**common),
        "choice": lambda: s.ChoiceField(choices=spec["choices"], allow_blank=spec.get("allow_blank", False), **common),
        "primary_key": lambda: s.PrimaryKeyRelatedField(queryset=KeyQuerySet(spec["key_kind"]), **common),
        "many_primary_keys": lambda: s.PrimaryKeyRelatedField(
            many=True, queryset=KeyQuerySet(spec["key_kind"]), allow_empty=spec.get("allow_empty", True), **common),
    }
    return make[kind]()


def comparable(value):
    """Values compared with their types: 1 and True, Decimal('1.0') and
    Decimal('1.00'), an aware and a naive datetime all differ."""
    if isinstance(value, Key):
        value = value.pk
    if isinstance(value, list):
        return ("list", [comparable(v) for v in value])
    if isinstance(value, dict):
        return ("dict", [(k, comparable(v)) for k, v in value.items()])
    if isinstance(value, D):
        return ("Decimal", str(value))
    if isinstance(value, float):
        return ("float", repr(value))
    if isinstance(value, dt.datetime):
        return ("datetime", value.replace(tzinfo=None), value.utcoffset(), value.fold)
    return (type(value).__name__, value)


class FrameworkCrash(Exception):
    """The framework answers with a server error (an uncaught exception)."""


def drf_answer(specs, body, partial=False):
    """(values, errors) as parse_input words them, from the framework."""
    try:
        data = parsers.JSONParser().parse(io.BytesIO(body))
    except exceptions.ParseError as exc:
        return None, {"non_field_errors": [(str(exc.detail), "parse_error")]}
    return drf_data_answer(specs, data, partial)


def drf_data_answer(specs, data, partial=False):
    """drf_answer for data already parsed (a dict body)."""
    serializer_cls = type("Reference", (s.Serializer,), {spec["name"]: drf_field(spec) for spec in specs})
    serializer = serializer_cls(data=data, partial=partial)
    try:
        valid = serializer.is_valid()
    except (OverflowError, ValueError, decimal.InvalidOperation) as exc:
        raise FrameworkCrash from exc
    if valid:
        return {k: comparable(v) for k, v in serializer.validated_data.items()}, None
    return None, {k: [(str(e), e.code) for e in v] for k, v in serializer.errors.items()}


def our_answer(specs, body, partial=False):
    values, errors = zembra.parse_input(zembra.InputPlan(specs), body, partial=partial)
    if values is not None:
        return {k: comparable(v) for k, v in values.items()}, None
    return None, errors


def body_text(members):
    """A JSON object from (key, JSON text of the value) pairs."""
    return ("{" + ", ".join(json.dumps(k) + ": " + v for k, v in members) + "}").encode("utf-8", "surrogatepass")

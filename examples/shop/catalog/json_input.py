"""Reading a JSON request body into model field values.

zembra_django validates model instances, whose attributes hold Python values
(Decimal, datetime, UUID...). JSON carries text and numbers, so the write view
first turns each value into its field's Python type with the field's own
``to_python()``; what cannot be converted is added to the
``validate_instance`` report, in the same shape.
"""

import datetime
import decimal
import json
import math

from django.core.exceptions import ValidationError
from django.db import models
from django.utils import timezone


class BadRequest(ValueError):
    """The body is not a JSON object."""


def _refuse_constant(name):
    # json.loads accepts NaN and Infinity by default; JSON does not.
    raise ValueError(f"{name} is not valid JSON")


def _finite_float(text):
    # 1e400 would otherwise become inf, which no column or JSON answer can hold.
    value = float(text)
    if value in (math.inf, -math.inf):
        raise ValueError(f"number {text} is out of range")
    return value


def load_object(body):
    """Parses a request body that must hold one JSON object."""
    try:
        data = json.loads(body, parse_constant=_refuse_constant, parse_float=_finite_float)
    except ValueError as exc:  # JSONDecodeError and UnicodeDecodeError included
        raise BadRequest(f"Malformed JSON: {exc}") from None
    except RecursionError:
        raise BadRequest("Malformed JSON: nested too deeply.") from None
    if not isinstance(data, dict):
        raise BadRequest(f"Expected a JSON object, got {type(data).__name__}.")
    return data


def to_python(field, value):
    """One JSON value as the Python value ``field`` holds; raises ValidationError."""
    if value is None:
        return None
    if isinstance(field, (models.CharField, models.TextField)) and not isinstance(value, str):
        raise ValidationError("Not a valid string.", code="invalid")
    if isinstance(field, models.DecimalField) and isinstance(value, (int, float)):
        value = str(value)  # through text, so 19.9 stays 19.9 rather than a binary fraction
    try:
        value = field.to_python(value)
    except (TypeError, ValueError, ArithmeticError):
        # Some to_python() methods let these through for unexpected JSON types.
        raise ValidationError("Invalid value.", code="invalid") from None
    if isinstance(value, float) and not math.isfinite(value):  # "1e999", "NaN" as text
        raise ValidationError("Ensure this value is a finite number.", code="invalid")
    if isinstance(value, datetime.datetime) and timezone.is_naive(value):
        value = timezone.make_aware(value, datetime.UTC)
    return value


def field_values(model_class, names, data):
    """Converts the writable fields among ``names`` found in ``data``.

    Returns ``(values, errors)``: the converted values by name, and error
    dicts with the keys of a validation report entry (a field that fails is
    left out of ``values``). Absent fields without a default are set to None
    so that validation reports them as required.
    """
    values, errors = {}, []
    for name in names:
        field = model_class._meta.get_field(name)
        if not field.editable:
            continue
        if name not in data:
            if not field.has_default():
                values[name] = None
            continue
        try:
            values[name] = to_python(field, data[name])
        except ValidationError as exc:
            errors.append({"field": name, "message": exc.messages[0],
                           "code": getattr(exc, "code", None) or "invalid", "params": {}})
    return values, errors


def pad_decimal_places(instance):
    """Writes decimals with all their places (19.9 as 19.90), as a read would.

    Call it after validation, which has ensured no value has more places.
    """
    for field in instance._meta.concrete_fields:
        value = getattr(instance, field.attname)
        if isinstance(field, models.DecimalField) and isinstance(value, decimal.Decimal):
            setattr(instance, field.attname, value.quantize(decimal.Decimal(1).scaleb(-field.decimal_places)))


def with_input_errors(report, errors, names):
    """A validate_instance report completed with the conversion errors.

    A field that could not be converted keeps only its conversion error;
    errors are listed in the order of ``names``, the fields checked.
    """
    failed = {error["field"] for error in errors}
    position = {name: index for index, name in enumerate(names)}
    merged = sorted([*errors, *(e for e in report["errors"] if e["field"] not in failed)],
                    key=lambda error: position.get(error["field"], len(names)))
    failed.update(error["field"] for error in merged)
    return {"valid_count": max(len(names) - len(failed), 0), "error_count": len(merged),
            "is_valid": not merged, "errors": merged}

"""A pure-Python stand-in for the native request-input parser
(``zembra._speedups.InputPlan`` / ``parse_input``), used only while the
native one is not built. Same contract, DRF's input rules and messages;
slow. To be removed once the native parser is part of the build."""

from __future__ import annotations

import datetime
import decimal
import json
import math
import re
import uuid

from django.core import validators as dj
from django.core.exceptions import ValidationError
from django.utils import timezone
from django.utils.dateparse import parse_date, parse_datetime, parse_duration, parse_time
from django.utils.ipv6 import clean_ipv6_address

_MISSING = object()
_MAX_STRING_LENGTH = 1000
_SLUG = re.compile(r"^[-a-zA-Z0-9_]+$")
_UNICODE_SLUG = re.compile(r"^[-\w]+\Z")
_INT_DECIMAL = re.compile(r"\.0*\s*$")
_TRUE = {"t", "y", "yes", "true", "on", "1", 1, True}
_FALSE = {"f", "n", "no", "false", "off", "0", 0, 0.0, False}
_NULL = {"null", "", None}
_DATETIME_FORMAT = "YYYY-MM-DDThh:mm[:ss[.uuuuuu]][+HH:MM|-HH:MM|Z]"


class _Fail(Exception):
    def __init__(self, message, code):
        super().__init__(message)
        self.errors = [(message, code)]


def _fail(message, code="invalid"):
    raise _Fail(message, code)


class InputPlan:
    def __init__(self, fields):
        self.fields = [dict(f) for f in fields]
        for f in self.fields:
            if f.get("kind") == "choice":
                f["_choices"] = {str(c): c for c in f.get("choices", ())}
        self.names = {f["name"] for f in self.fields}


def _as_str(data, field):
    if isinstance(data, bool) or not isinstance(data, (str, int, float)):
        _fail("Not a valid string.")
    return str(data).strip() if field.get("trim_whitespace", True) else str(data)


def _integer(data, field):
    if isinstance(data, str) and len(data) > _MAX_STRING_LENGTH:
        _fail("String value too large.", "max_string_length")
    try:
        return int(_INT_DECIMAL.sub("", str(data)))
    except (ValueError, TypeError):
        _fail("A valid integer is required.")


def _float(data, field):
    if isinstance(data, str) and len(data) > _MAX_STRING_LENGTH:
        _fail("String value too large.", "max_string_length")
    try:
        value = float(data)
    except (TypeError, ValueError):
        _fail("A valid number is required.")
    except OverflowError:
        _fail("Integer value too large to convert to float", "overflow")
    if not math.isfinite(value):
        _fail("A valid number is required.")
    return value


def _decimal(data, field):
    text = str(data).strip()
    if len(text) > _MAX_STRING_LENGTH:
        _fail("String value too large.", "max_string_length")
    try:
        value = decimal.Decimal(text)
    except decimal.DecimalException:
        _fail("A valid number is required.")
    if not value.is_finite():
        _fail("A valid number is required.")
    sign, digits, exponent = value.as_tuple()
    if exponent >= 0:
        total, whole, places = len(digits) + exponent, len(digits) + exponent, 0
    elif len(digits) > -exponent:
        total, whole, places = len(digits), len(digits) + exponent, -exponent
    else:
        total, whole, places = -exponent, 0, -exponent
    max_digits, max_places = field.get("max_digits"), field.get("decimal_places")
    if max_digits is not None and total > max_digits:
        _fail(f"Ensure that there are no more than {max_digits} digits in total.", "max_digits")
    if max_places is not None and places > max_places:
        _fail(f"Ensure that there are no more than {max_places} decimal places.", "max_decimal_places")
    if max_digits is not None and max_places is not None and whole > max_digits - max_places:
        _fail(f"Ensure that there are no more than {max_digits - max_places} digits before the decimal point.",
              "max_whole_digits")
    if max_places is None:
        return value
    context = decimal.getcontext().copy()
    if max_digits is not None:
        context.prec = max_digits
    return value.quantize(decimal.Decimal(".1") ** max_places, context=context)


def _boolean(data, field):
    try:
        key = data.lower() if isinstance(data, str) else data
        if key in _TRUE:
            return True
        if key in _FALSE:
            return False
        if key in _NULL and field.get("allow_null"):
            return None
    except TypeError:
        pass
    _fail("Must be a valid boolean.")


def _uuid(data, field):
    try:
        if isinstance(data, int) and not isinstance(data, bool):
            return uuid.UUID(int=data)
        if isinstance(data, str):
            return uuid.UUID(hex=data)
    except ValueError:
        pass
    _fail("Must be a valid UUID.")


def _datetime(data, field):
    try:
        parsed = parse_datetime(data)
    except (ValueError, TypeError):
        parsed = None
    if parsed is None:
        _fail(f"Datetime has wrong format. Use one of these formats instead: {_DATETIME_FORMAT}.")
    zone = field.get("default_timezone")
    if zone is None:
        return timezone.make_naive(parsed, datetime.timezone.utc) if timezone.is_aware(parsed) else parsed
    if timezone.is_aware(parsed):
        try:
            return parsed.astimezone(zone)
        except OverflowError:
            _fail("Datetime value out of range.", "overflow")
    return timezone.make_aware(parsed, zone)


def _parsed(parse, message):
    def convert(data, field):
        try:
            parsed = parse(data)
        except (ValueError, TypeError):
            parsed = None
        if parsed is None:
            _fail(message)
        return parsed
    return convert


def _duration(data, field):
    try:
        parsed = parse_duration(str(data))
    except OverflowError:
        _fail(f"The number of days must be between {datetime.timedelta.min.days} and "
              f"{datetime.timedelta.max.days}.", "overflow")
    if parsed is None:
        _fail("Duration has wrong format. Use one of these formats instead: [DD] [HH:[MM:]]ss[.uuuuuu].")
    return parsed


def _json(data, field):
    try:
        json.dumps(data, allow_nan=False)  # DRF's json module refuses NaN and infinities
    except (TypeError, ValueError):
        _fail("Value must be valid JSON.")
    return data


def _ip(data, field):
    if not isinstance(data, str):
        _fail("Enter a valid IPv4 or IPv6 address.")
    protocol = field.get("protocol", "both").lower()
    if ":" in data and protocol in ("both", "ipv6"):
        try:
            return clean_ipv6_address(data, protocol == "both")
        except ValidationError:
            _fail("Enter a valid IPv4 or IPv6 address.")
    return _as_str(data, field)


def _choice(data, field):
    if data == "" and field.get("allow_blank"):
        return ""
    try:
        return field["_choices"][str(data)]
    except KeyError:
        _fail(f'"{data}" is not a valid choice.', "invalid_choice")


def _key(data, field):
    if isinstance(data, bool) or not isinstance(data, (str, int, float)):
        _fail(f"Incorrect type. Expected pk value, received {type(data).__name__}.", "incorrect_type")
    kind = field.get("key_kind", "integer")
    try:
        if kind == "integer":
            return int(data)
        if kind == "uuid":
            return data if isinstance(data, uuid.UUID) else uuid.UUID(str(data))
        return str(data)
    except (TypeError, ValueError):
        _fail(f"Incorrect type. Expected pk value, received {type(data).__name__}.", "incorrect_type")


def _keys(data, field):
    if isinstance(data, str) or not hasattr(data, "__iter__"):
        _fail(f'Expected a list of items but got type "{type(data).__name__}".', "not_a_list")
    if not field.get("allow_empty", True) and len(data) == 0:
        _fail("This list may not be empty.", "empty")
    return [_key(item, field) for item in data]


_KIND_VALIDATORS = {
    "email": (dj.EmailValidator(message="Enter a valid email address."),),
    "url": (dj.URLValidator(message="Enter a valid URL."),),
    "slug": (dj.RegexValidator(_SLUG, message='Enter a valid "slug" consisting of letters, numbers, '
                                              "underscores or hyphens."),),
}

_CONVERT = {
    "integer": _integer, "float": _float, "decimal": _decimal, "boolean": _boolean,
    "string": _as_str, "email": _as_str, "url": _as_str, "slug": _as_str, "ip": _ip,
    "uuid": _uuid, "datetime": _datetime,
    "date": _parsed(parse_date, "Date has wrong format. Use one of these formats instead: YYYY-MM-DD."),
    "time": _parsed(parse_time, "Time has wrong format. Use one of these formats instead: "
                                "hh:mm[:ss[.uuuuuu]]."),
    "duration": _duration, "json": _json, "choice": _choice,
    "primary_key": _key, "many_primary_keys": _keys,
}
_TEXT_KINDS = {"string", "email", "url", "slug", "ip"}


def _validators(field):
    out = list(field.get("validators") or ())
    kind = field["kind"]
    if kind in _TEXT_KINDS:
        if field.get("max_length") is not None:
            out.append(dj.MaxLengthValidator(field["max_length"], message=(
                f"Ensure this field has no more than {field['max_length']} characters.")))
        if field.get("min_length") is not None:
            out.append(dj.MinLengthValidator(field["min_length"], message=(
                f"Ensure this field has at least {field['min_length']} characters.")))
        out.append(dj.ProhibitNullCharactersValidator())
        if kind == "slug" and field.get("allow_unicode"):
            out.append(dj.RegexValidator(_UNICODE_SLUG, message='Enter a valid "slug" consisting of Unicode '
                                                                "letters, numbers, underscores, or hyphens."))
        else:
            out.extend(_KIND_VALIDATORS.get(kind, ()))
        if kind == "ip":
            messages = {"both": "Enter a valid IPv4 or IPv6 address.", "ipv4": "Enter a valid IPv4 address.",
                        "ipv6": "Enter a valid IPv6 address."}
            protocol = field.get("protocol", "both").lower()
            validate = dj.ip_address_validators(protocol, protocol == "both")[0]
            out.append(lambda v, check=validate, m=messages[protocol]: _django_check(check, v, m))
    if kind in ("integer", "float", "decimal", "duration"):
        if field.get("max_value") is not None:
            out.append(dj.MaxValueValidator(field["max_value"], message=(
                f"Ensure this value is less than or equal to {field['max_value']}.")))
        if field.get("min_value") is not None:
            out.append(dj.MinValueValidator(field["min_value"], message=(
                f"Ensure this value is greater than or equal to {field['min_value']}.")))
    return out


def _django_check(check, value, message):
    try:
        check(value)
    except ValidationError:
        raise ValidationError(message, code="invalid") from None


def _field_value(field, data):
    kind = field["kind"]
    if kind in _TEXT_KINDS or (kind == "choice" and field.get("allow_blank")):
        trimmed = kind in _TEXT_KINDS and field.get("trim_whitespace", True) and isinstance(data, str)
        if data == "" or (trimmed and data.strip() == ""):
            if not field.get("allow_blank"):
                _fail("This field may not be blank.", "blank")
            return ""
    if kind == "decimal" and field.get("allow_null") and str(data).strip() == "":
        return None
    if kind in ("primary_key",) and data == "":
        if not field.get("allow_null"):
            _fail("This field may not be null.", "null")
        return None
    value = _CONVERT[kind](data, field)
    errors = []
    for check in _validators(field):
        try:
            check(value)
        except ValidationError as exc:
            errors.extend((m, e.code or "invalid") for e in exc.error_list for m in e.messages)
    if errors:
        failure = _Fail("", "")
        failure.errors = errors
        raise failure
    return value


def parse_input(plan, body, *, partial=False, unknown="ignore"):
    if unknown not in ("ignore", "reject"):
        raise ValueError("unknown must be 'ignore' or 'reject'")
    if isinstance(body, (bytes, bytearray, memoryview, str)):
        try:
            data = json.loads(bytes(body) if not isinstance(body, str) else body,
                              parse_constant=lambda c: (_ for _ in ()).throw(ValueError(f"Invalid constant {c}")))
        except (ValueError, RecursionError) as exc:
            return None, {"non_field_errors": [(f"JSON parse error - {exc}", "parse_error")]}
    else:
        data = body
    if data is None:
        return None, {"non_field_errors": [("No data provided", "null")]}
    if not isinstance(data, dict):
        return None, {"non_field_errors": [
            (f"Invalid data. Expected a dictionary, but got {type(data).__name__}.", "invalid")]}
    values, errors = {}, {}
    for field in plan.fields:
        name = field["name"]
        data_value = data.get(name, _MISSING)
        if data_value is _MISSING:
            if not partial and field.get("required", True):
                errors[name] = [("This field is required.", "required")]
            continue
        if data_value is None:
            if field.get("allow_null"):
                values[name] = None
            else:
                errors[name] = [("This field may not be null.", "null")]
            continue
        try:
            values[name] = _field_value(field, data_value)
        except _Fail as failure:
            errors[name] = failure.errors
    if unknown == "reject":
        unknown_keys = [(f'Unknown field "{key}".', "unknown_field") for key in data if key not in plan.names]
        if unknown_keys:
            errors.setdefault("non_field_errors", []).extend(unknown_keys)
    return (None, errors) if errors else (values, None)

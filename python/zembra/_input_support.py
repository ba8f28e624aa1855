"""Interpreter-side helpers of :func:`zembra.parse_input`.

Called by the native parser only where a rule needs the interpreter: the
caller's validators and their exceptions, URLs beyond ASCII (the URL
splitter applies Unicode normalization), Unicode slugs, and time zones other
than UTC or a fixed offset. Nothing here imports Django unless a URL needs
it.
"""

import json
import re
import sys
from datetime import timezone, tzinfo

_UNICODE_SLUG = re.compile(r"^[-\w]+\Z")
_url_validator = None


def _detail_pairs(detail):
    if isinstance(detail, dict):
        for item in detail.values():
            yield from _detail_pairs(item)
    elif isinstance(detail, (list, tuple)):
        for item in detail:
            yield from _detail_pairs(item)
    else:
        yield str(detail), getattr(detail, "code", None) or "invalid"


def _validation_pairs(exc):
    """(message, code) pairs of a validation error, or None for any other
    exception. Django's errors are read as REST framework's
    get_error_detail() reads them."""
    django = sys.modules.get("django.core.exceptions")
    if django is not None and isinstance(exc, django.ValidationError):
        default_code = getattr(exc, "code", None) or "invalid"
        if hasattr(exc, "error_dict"):
            errors = [error for group in exc.error_dict.values() for error in group]
        else:
            errors = exc.error_list
        return [
            (str(error.message % error.params if error.params else error.message), error.code or default_code)
            for error in errors
        ]
    framework = sys.modules.get("rest_framework.exceptions")
    if framework is not None and isinstance(exc, framework.ValidationError):
        return list(_detail_pairs(exc.detail))
    return None


def run_validators(validators, value):
    """Every validator on the value; the errors of all of them, in order."""
    errors = []
    for validator in validators:
        try:
            validator(value)
        except Exception as exc:
            pairs = _validation_pairs(exc)
            if pairs is None:
                raise
            errors.extend(pairs)
    return errors


def json_dumpable(value):
    """Whether REST framework's JSONField takes the value: its
    json.dumps(value, allow_nan=False) succeeds. Its other exceptions
    propagate, as there (a RecursionError for a value nested as deep as the
    interpreter's limit)."""
    try:
        json.dumps(value, allow_nan=False)
    except (TypeError, ValueError):
        return False
    return True


def check_url(text):
    global _url_validator
    from django.core.exceptions import ValidationError

    if _url_validator is None:
        from django.core.validators import URLValidator

        _url_validator = URLValidator()
    try:
        _url_validator(text)
    except ValidationError:
        return False
    return True


def check_unicode_slug(text):
    return _UNICODE_SLUG.match(text) is not None


def _is_aware(value):
    return value.utcoffset() is not None


def enforce_zone(value, zone):
    """DateTimeField.enforce_timezone: (datetime, None) or (None, (message, code))."""
    try:
        if zone is None:
            if _is_aware(value):
                return value.astimezone(timezone.utc).replace(tzinfo=None), None
            return value, None
        if _is_aware(value):
            return value.astimezone(zone), None
        aware = value.replace(tzinfo=zone)
        exists = aware.astimezone(timezone.utc) == aware
        ambiguous = exists and aware.replace(fold=not aware.fold).utcoffset() != aware.utcoffset()
        if not isinstance(aware.tzinfo, tzinfo) or ambiguous:
            return None, (f'Invalid datetime for the timezone "{zone}".', "make_aware")
        return aware, None
    except OverflowError:
        return None, ("Datetime value out of range.", "overflow")

"""A short tour of both modules (the full Django example comes later)."""

import zembra_core
import zembra_django
from zembra_core import Field, Schema

schema = Schema({"name": Field(str, max_length=100), "age": Field(int, min_value=0, max_value=150)})
print("core", zembra_core.version(), "django", zembra_django.version())
print(schema, schema.field_names_list)
for call in (lambda: Field(str, max_digits=2), lambda: zembra_core.validate({}, {})):
    try:
        call()
    except (TypeError, ValueError) as exc:
        print(f"{type(exc).__name__}: {exc}")

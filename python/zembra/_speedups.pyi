import datetime
import decimal
from collections.abc import Callable, Mapping, Sequence
from typing import Any, Literal, TypedDict, final

from typing_extensions import NotRequired

from zembra_core._native import Schema
from zembra_django import ModelSchema

__all__ = [
    "PanicException",
    "encode_json",
    "serialize_json",
    "serialize_many_json",
    "serialize_instance_json",
    "serialize_batch_json",
    "serialize_values_list_json",
    "_queryset_records",
    "_queryset_json",
    "_queryset_pg_records",
    "_queryset_pg_json",
    "parse_input",
    "InputPlan",
    "encode_json_plain",
    "ColumnLayout",
    "model_objects",
    "convert_rows",
]

class PanicException(BaseException): ...

def encode_json(value: object) -> bytes: ...
def serialize_json(data: object, schema: Schema) -> bytes: ...
def serialize_many_json(data_list: list[Any], schema: Schema) -> bytes: ...
def serialize_instance_json(instance: object, schema: ModelSchema) -> bytes: ...
def serialize_batch_json(instances: list[Any], schema: ModelSchema) -> bytes: ...
def serialize_values_list_json(rows: list[Any], schema: ModelSchema) -> bytes: ...

# The native steps of zembra.django.serialize_queryset and
# serialize_queryset_json; None means the values_list route must run.
def _queryset_records(rows: list[Any], schema: ModelSchema, plan: tuple[Any, ...]) -> list[dict[str, Any]] | None: ...
def _queryset_json(rows: list[Any], schema: ModelSchema, plan: tuple[Any, ...], form: int = 0) -> bytes | None: ...

# The same from the PostgreSQL result a psycopg 3 cursor holds after
# execute() (or a psycopg PGresult); form: 0 a JSON array, 1 the records
# joined by ",", 2 each record followed by a newline.
def _queryset_pg_records(
    cursor_or_result: Any, schema: ModelSchema, plan: tuple[Any, ...]
) -> list[dict[str, Any]] | None: ...
def _queryset_pg_json(
    cursor_or_result: Any, schema: ModelSchema, plan: tuple[Any, ...], *, form: int = 0
) -> bytes | None: ...

_Kind = Literal[
    "integer", "float", "decimal", "boolean", "string", "email", "url", "slug", "ip", "uuid", "date", "time",
    "datetime", "duration", "json", "choice", "primary_key", "many_primary_keys",
]
_Number = int | float | decimal.Decimal

class _FieldSpec(TypedDict):
    """One field of an InputPlan: the rules of the REST framework field of
    that kind, with the same names. Keys not listed here are ignored; None
    stands for "not set".

    Kinds and what they take beyond the common keys:
      integer, float, decimal   min_value, max_value (int, float or Decimal;
                                  the messages show str() of them);
                                  decimal: max_digits, decimal_places
      string, email, url, slug, ip
                                  max_length, min_length, allow_blank,
                                  trim_whitespace (default True); slug:
                                  allow_unicode; ip: protocol ("both",
                                  "ipv4", "ipv6"). email, url, slug and ip
                                  include the check of their Django validator
                                  (EmailValidator, URLValidator, validate_slug /
                                  validate_unicode_slug, the IP validators),
                                  with the REST framework field's message: do
                                  not pass those in `validators`.
      duration                  min_value, max_value (timedelta)
      datetime                  default_timezone: naive datetimes are made
                                  aware in it and aware ones converted to it;
                                  None keeps every result naive (aware input
                                  becomes naive UTC)
      choice                    choices: the accepted keys (matched by str(),
                                  as ChoiceField does; the key is returned)
      primary_key, many_primary_keys
                                  key_kind: "integer", "string" (also "email",
                                  "url", "slug", "ip") or "uuid"; the key is
                                  read as the lookup would read it, existence
                                  is the caller's to check.
                                  many_primary_keys: allow_empty (default True);
                                  allow_null does not apply (null is refused,
                                  as by the framework's ManyRelatedField)
    Common: required (default True), allow_null (default False), validators
    (callables run on the converted value before the field's own checks; a
    django or REST framework ValidationError becomes the field's messages;
    each is called with the value alone; for the related-key kinds that is
    the key, where the framework passes the related object).
    """

    name: str
    kind: _Kind
    required: NotRequired[bool]
    allow_null: NotRequired[bool]
    allow_blank: NotRequired[bool]
    trim_whitespace: NotRequired[bool]
    allow_empty: NotRequired[bool]
    allow_unicode: NotRequired[bool]
    max_length: NotRequired[int | None]
    min_length: NotRequired[int | None]
    min_value: NotRequired[_Number | datetime.timedelta | None]
    max_value: NotRequired[_Number | datetime.timedelta | None]
    max_digits: NotRequired[int | None]
    decimal_places: NotRequired[int | None]
    protocol: NotRequired[str]
    choices: NotRequired[Sequence[Any]]
    key_kind: NotRequired[str]
    validators: NotRequired[Sequence[Callable[[Any], object]] | None]
    default_timezone: NotRequired[datetime.tzinfo | None]

@final
class InputPlan:
    """The input rules of a list of fields, compiled once. Immutable; one
    plan may serve any number of threads."""

    def __new__(cls, fields: Sequence[_FieldSpec | Mapping[str, Any]]) -> InputPlan: ...
    def __len__(self) -> int: ...

# A message and its code, e.g. ("This field is required.", "required").
_ErrorPair = tuple[str, str]

def parse_input(
    plan: InputPlan,
    body: bytes | bytearray | memoryview | str | dict[str, Any],
    *,
    partial: bool = False,
    unknown: Literal["ignore", "reject"] = "ignore",
) -> tuple[dict[str, Any], None] | tuple[None, dict[str, list[_ErrorPair]]]:
    """Reads a request body with REST framework's input rules.

    The JSON text is read as the framework's JSON parser reads it (invalid
    UTF-8, NaN and Infinity refused, the json module's error texts). The
    result is (values, None), values holding the converted value of every
    field present, in plan order; or (None, errors), errors mapping field
    names to (message, code) pairs, with "non_field_errors" for the body as
    a whole: "JSON parse error - ..." (code "parse_error"), "Invalid data.
    Expected a dictionary, but got list." ("invalid"), "No data provided"
    for null ("null") and 'Unknown field "x".' ("unknown_field", with
    unknown="reject"). An empty body is a parse error (the framework's
    request gives {} instead). JSON text nesting deeper than 1000 levels is
    a parse error. A dict body is read as its JSON-typed values; date, time,
    datetime, timedelta, UUID and Decimal objects pass for their own kinds
    (and are held to its bounds). A json field of a dict body is checked as
    the framework checks it, by json.dumps (as deep as that goes; keys that
    are not text and tuples allowed), and gives the object given. Any
    buffer is read as bytes() of it reads. Nothing in the body raises; a
    validator's own exception does, and so does json.dumps's RecursionError
    for a dict body nested as deep as the interpreter allows (as in the
    framework).
    """
# The model layer's column layout (zembra.django.ModelResource, zembra.rest).
@final
class ColumnLayout:
    def __new__(cls, columns: list[tuple[Any, ...]], missing: Any = None, *, skip: object = None) -> ColumnLayout: ...
    def __len__(self) -> int: ...
    @property
    def keys(self) -> list[str]: ...
    def dump(
        self, instance: object, calls: tuple[Any, ...] | None = None, *, groups: dict[str, dict[Any, Any]] | None = None
    ) -> dict[str, Any]: ...
    def dump_many(
        self, instances: Any, calls: tuple[Any, ...] | None = None, *, groups: dict[str, dict[Any, Any]] | None = None
    ) -> list[dict[str, Any]]: ...
    def dump_json(
        self, instance: object, calls: tuple[Any, ...] | None = None, *, groups: dict[str, dict[Any, Any]] | None = None
    ) -> bytes: ...
    def dump_many_json(
        self, instances: Any, calls: tuple[Any, ...] | None = None, *, groups: dict[str, dict[Any, Any]] | None = None
    ) -> bytes: ...
    def rows(self, rows: Any) -> list[dict[str, Any]]: ...
    def rows_json(self, rows: Any) -> bytes: ...
    def raw_rows(self, rows: list[Any], plan: tuple[Any, ...]) -> list[dict[str, Any]] | None: ...
    def raw_rows_json(self, rows: list[Any], plan: tuple[Any, ...]) -> bytes | None: ...

def encode_json_plain(value: object) -> bytes: ...

# Model instances of plain models made from rows (zembra._instances).
def model_objects(
    rows: list[Any], model: type, attnames: tuple[str, ...], state_type: type, state: dict[str, Any], start: int,
    pk_at: int,
) -> list[Any]: ...

# Raw cursor rows through Django's converters, the common ones natively
# (zembra._instances).
def convert_rows(rows: list[Any], plan: tuple[Any, ...]) -> list[tuple[Any, ...]]: ...

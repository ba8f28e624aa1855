"""The Django side of the zembra package (imports Django)."""

from __future__ import annotations

import decimal
from typing import Any

from django.conf import settings
from django.core.exceptions import EmptyResultSet
from django.db.models import DecimalField, JSONField
from django.db.models.expressions import Col
from django.db.models.query import ModelIterable, QuerySet, ValuesListIterable
from django.db.models.sql.compiler import SQLCompiler
from django.http import HttpResponse

import zembra_django
from zembra import _speedups, serialize_values_list_json

__all__ = ["JsonBytesResponse", "serialize_queryset", "serialize_queryset_json"]


class JsonBytesResponse(HttpResponse):
    """An HTTP response whose body is JSON that is already encoded.

    Takes the bytes of the zembra encoders (or any UTF-8 JSON text) as they
    are; the content type defaults to ``application/json``::

        return JsonBytesResponse(zembra.serialize_values_list_json(rows, schema))
    """

    def __init__(self, content: bytes | bytearray | memoryview, **kwargs: Any) -> None:
        if not isinstance(content, (bytes, bytearray, memoryview)):
            raise TypeError(
                f"JsonBytesResponse takes encoded JSON bytes, not {type(content).__name__!r}; "
                "encode the value with zembra.encode_json() first")
        kwargs.setdefault("content_type", "application/json")
        super().__init__(content=content, **kwargs)


def serialize_queryset(queryset: QuerySet, schema: zembra_django.ModelSchema) -> list[dict[str, Any]]:
    """The schema's fields of every row of a queryset, as JSON-ready dicts.

    The result is always that of::

        zembra_django.serialize_values_list(
            list(queryset.values_list(*schema.field_names_list)), schema)

    but the queryset's own SQL (its filters, ordering and slicing) runs on
    its database's cursor and the raw values are converted natively, without
    Django's per-value converters, on SQLite and on PostgreSQL with psycopg 3.
    Whatever the native readers cannot reproduce exactly (another database,
    a field class of its own, annotations, a database time zone other than
    UTC on SQLite, a value of an unexpected kind, any error) takes that
    values_list route instead, which then gives its own result or error.

    The query runs on every call, as values_list() would run it: the
    queryset's result cache is neither used nor filled.

    Raises TypeError for anything but a QuerySet of model instances (not
    values() or values_list()) of the model the schema was compiled from.
    """
    return _serialize(queryset, schema, "serialize_queryset", _speedups._queryset_records,
                      zembra_django.serialize_values_list)


def serialize_queryset_json(queryset: QuerySet, schema: zembra_django.ModelSchema) -> bytes:
    """serialize_queryset() as UTF-8 JSON bytes: always what
    ``zembra.serialize_values_list_json(list(queryset.values_list(*names)), schema)``
    gives, with the same fast path and the same fallback."""
    return _serialize(queryset, schema, "serialize_queryset_json", _speedups._queryset_json,
                      serialize_values_list_json)


# Reader codes of zembra._speedups._queryset_records and _queryset_json.
_RAW, _DATE, _TIME, _DATETIME, _BOOL, _DECIMAL, _DECIMAL_ROUNDED_INTS, _UUID_HEX, _JSON_TEXT = range(9)

# (schema, model) -> the model's fields in schema order, once the schema is
# known to be compiled from that model; (schema, model, alias, vendor) -> the
# plan of readers, or None when some column needs Django's own converters.
# Both hold their keys alive, so an id is never reused while cached; a
# program that keeps making schemas only makes the caches start over now and
# then.
_fields_of: dict[tuple[Any, Any], list[Any]] = {}
_plans: dict[tuple[Any, Any, str, str], tuple[Any, ...] | None] = {}
_CACHE_LIMIT = 256


def _serialize(queryset, schema, function, native, reference):
    fields = _checked_fields(queryset, schema, function)
    names = schema.field_names_list
    rows_query = queryset.values_list(*names)
    plan = None
    if _has_plain_query(queryset, rows_query):
        compiler = rows_query.query.get_compiler(using=rows_query.db)
        if type(compiler) is SQLCompiler and _time_zone_allows(compiler.connection):
            try:
                sql, params = compiler.as_sql()
            except EmptyResultSet:
                sql = None
            if not sql:  # the query can have no rows, as values_list() finds too
                return reference([], schema)
            if _selects_fields(compiler, fields):
                plan = _plan((schema, queryset.model, rows_query.db, compiler.connection.vendor), compiler, fields)
    if plan is not None:
        with compiler.connection.cursor() as cursor:
            cursor.execute(sql, params)
            rows = cursor.fetchall()
        result = native(rows, schema, plan)
        if result is not None:
            return result
    # The values_list route itself, on a query of its own (compiling may
    # have changed the one above).
    return reference(list(queryset.values_list(*names)), schema)


def _checked_fields(queryset, schema, function):
    if not isinstance(queryset, QuerySet):
        raise TypeError(f"{function}() takes a QuerySet of model instances, not {type(queryset).__name__!r}")
    if not isinstance(schema, zembra_django.ModelSchema):
        raise TypeError(f"{function}(): schema must be a zembra_django.ModelSchema, not {type(schema).__name__!r}")
    if queryset._iterable_class is not ModelIterable:
        raise TypeError(
            f"{function}() takes a QuerySet of model instances, and this one yields the rows of "
            "values() or values_list(); pass the queryset without them: the schema chooses the fields")
    model = queryset.model
    key = (schema, model)
    fields = _fields_of.get(key)
    if fields is None:
        if model is None or not _compiled_from(schema, model):
            raise TypeError(
                f"{function}(): the schema was compiled from a model named {schema.model_name_str!r}, "
                f"but the queryset is of {getattr(model, '__qualname__', model)!r}")
        fields = [model._meta.get_field(name) for name in schema.field_names_list]
        _remember(_fields_of, key, fields)
    return fields


def _compiled_from(schema, model):
    names = {model.__name__, model._meta.concrete_model.__name__}  # a proxy reads its model's table
    return (schema.model_name_str in names
            and zembra_django.extract_model_fields(model) == schema.to_descriptor_list())


def _remember(cache, key, value):
    if len(cache) >= _CACHE_LIMIT:
        cache.clear()
    cache[key] = value


def _has_plain_query(queryset, rows_query):
    """Whether the rows come from the query alone, as values_list() would
    read them: no annotations, extra columns, combined queries or prefetching,
    and no queryset class of its own that changes how rows are fetched."""
    query = rows_query.query
    cls = type(queryset)
    return (not query.annotations and not query.extra and not query.combinator
            and not queryset._prefetch_related_lookups
            and rows_query._iterable_class is ValuesListIterable
            and cls.values_list is QuerySet.values_list and cls._fetch_all is QuerySet._fetch_all
            and cls.__iter__ is QuerySet.__iter__)


def _time_zone_allows(connection):
    # SQLite keeps datetimes naive; Django makes them aware in the
    # connection's zone, which the native route reads as UTC.
    return connection.vendor != "sqlite" or not settings.USE_TZ or connection.timezone_name == "UTC"


def _selects_fields(compiler, fields):
    """Whether column i of the SQL is the schema's field i (ordering columns
    a DISTINCT query adds come after them, and are not read)."""
    select = compiler.select
    if len(select) != len(fields):
        return False
    for (column, _, _), field in zip(select, fields):
        if type(column) is not Col or column.target is not field or column.output_field is not field:
            return False
    return True


def _plan(key, compiler, fields):
    try:
        return _plans[key]
    except KeyError:
        plan = _readers(compiler, fields)
        _remember(_plans, key, plan)
        return plan


def _readers(compiler, fields):
    """One reader per column: what Django's converters of the column do, as
    far as a native reader reproduces it; None when a column's converters
    are not exactly the ones of the backend and field classes that it knows."""
    connection = compiler.connection
    if connection.vendor == "sqlite":
        known = _sqlite_converters(connection)
    elif connection.vendor == "postgresql" and _is_psycopg3():
        known = {}
    else:
        return None
    if decimal.Context().rounding != decimal.ROUND_HALF_EVEN:
        return None
    converters = compiler.get_converters([column for column, _, _ in compiler.select])
    plan = []
    for i, field in enumerate(fields):
        found = converters.get(i, ((), None))[0]
        if not found:
            plan.append(_RAW)
            continue
        if len(found) != 1:
            return None
        (converter,) = found
        func = getattr(converter, "__func__", None)
        owner = getattr(converter, "__self__", None)
        if func is JSONField.from_db_value and owner is field and field.decoder is None:
            plan.append(_JSON_TEXT)
        elif func is not None and owner is connection.ops and func in known:
            plan.append(known[func])
        else:
            reader = _sqlite_decimal_reader(connection, converter, field)
            if reader is None:
                return None
            plan.append(reader)
    return tuple(plan)


def _is_psycopg3():
    from django.db.backends.postgresql.psycopg_any import is_psycopg3

    return is_psycopg3


def _sqlite_operations():
    from django.db.backends.sqlite3.base import DatabaseWrapper  # noqa: F401  (imports operations)
    from django.db.backends.sqlite3.operations import DatabaseOperations

    return DatabaseOperations


def _sqlite_converters(connection):
    ops = _sqlite_operations()
    return {ops.convert_datetimefield_value: _DATETIME, ops.convert_datefield_value: _DATE,
            ops.convert_timefield_value: _TIME, ops.convert_uuidfield_value: _UUID_HEX,
            ops.convert_booleanfield_value: _BOOL}


def _sqlite_decimal_reader(connection, converter, field):
    """The reader of a DecimalField column on SQLite: its converter must be
    the quantizing one SQLite's operations make for a column."""
    if connection.vendor != "sqlite" or not isinstance(field, DecimalField):
        return None
    ops = _sqlite_operations()
    code = getattr(converter, "__code__", None)
    made_by = [c for c in ops.get_decimalfield_converter.__code__.co_consts
               if hasattr(c, "co_freevars") and "quantize_value" in c.co_freevars]
    if code is None or made_by != [code]:
        return None
    cells = dict(zip(code.co_freevars, (cell.cell_contents for cell in converter.__closure__ or ())))
    if "_create_decimal" in code.co_names:
        # Integers (and texts) go to Decimal() exactly; floats are rounded to
        # 15 significant digits.
        if cells.get("self") is not connection.ops or type(connection.ops)._create_decimal is not ops._create_decimal:
            return None
        reader = _DECIMAL
    else:
        # Older converters round integers to 15 digits as well.
        create = cells.get("create_decimal")
        context = getattr(create, "__self__", None)
        if (getattr(create, "__name__", None) != "create_decimal_from_float" or not isinstance(context, decimal.Context)
                or context.prec != 15 or context.rounding != decimal.ROUND_HALF_EVEN):
            return None
        reader = _DECIMAL_ROUNDED_INTS
    places, digits = field.decimal_places, field.max_digits
    if (not isinstance(places, int) or not isinstance(digits, int) or places < 0 or digits < 1
            or cells.get("quantize_value") != decimal.Decimal(1).scaleb(-places)
            or field.context.prec != digits or field.context.rounding != decimal.ROUND_HALF_EVEN
            or not field.context.traps[decimal.InvalidOperation]):
        return None
    return (reader, digits, places)
from zembra._layer import ModelResource  # noqa: E402,F401  (the model layer)

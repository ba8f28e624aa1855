"""How the raw rows of a query are read natively: one reader code per
column, chosen from the converters Django would run on it, or None where
only Django's own converters reproduce the values. Shared by the queryset
route (zembra.django) and the model layer (zembra._layer)."""

from __future__ import annotations

import datetime
import decimal
from typing import Any

from django.conf import settings
from django.core.exceptions import EmptyResultSet
from django.db.models import DecimalField, JSONField
from django.db.models.expressions import Col
from django.db.models.query import QuerySet, ValuesListIterable
from django.db.models.sql.compiler import SQLCompiler

# Reader codes of zembra._speedups._queryset_records and _queryset_json.
RAW, DATE, TIME, DATETIME, BOOL, DECIMAL, DECIMAL_ROUNDED_INTS, UUID_HEX, JSON_TEXT = range(9)

# A query's key (for example (schema, model, alias, vendor)) -> the plan of
# readers, or None when some column needs Django's own converters.
# The cache holds its keys alive, so an id is never reused while cached; a
# program that keeps making schemas only makes the caches start over now and
# then.
_plans: dict[tuple[Any, ...], tuple[Any, ...] | None] = {}
_CACHE_LIMIT = 256


def remember(cache, key, value):
    if len(cache) >= _CACHE_LIMIT:
        cache.clear()
    cache[key] = value


def has_plain_query(queryset, rows_query):
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


# native_route()'s answer for a query that can have no rows.
NO_ROWS = object()


def compiled_rows_query(queryset, rows_query):
    """(compiler, sql, params) of a values_list() query whose raw rows the
    native readers may read, NO_ROWS when it can have no rows (as
    values_list() finds too), else None."""
    if not has_plain_query(queryset, rows_query):
        return None
    compiler = rows_query.query.get_compiler(using=rows_query.db)
    if type(compiler) is not SQLCompiler or not time_zone_allows(compiler.connection):
        return None
    try:
        sql, params = compiler.as_sql()
    except EmptyResultSet:
        return NO_ROWS
    return (compiler, sql, params) if sql else NO_ROWS


def native_route(queryset, schema, fields):
    """(compiler, sql, params, plan) when the native readers can read the
    rows of the queryset's own SQL, NO_ROWS when it can have no rows, else
    None (the values_list route)."""
    rows_query = queryset.values_list(*schema.field_names_list)
    compiled = compiled_rows_query(queryset, rows_query)
    if compiled is None or compiled is NO_ROWS:
        return compiled
    compiler, sql, params = compiled
    if not selects_fields(compiler, fields):
        return None
    plan = plan_for((schema, queryset.model, rows_query.db, compiler.connection.vendor), compiler, fields)
    return None if plan is None else (compiler, sql, params, plan)


def time_zone_allows(connection):
    # SQLite keeps datetimes naive; Django makes them aware in the
    # connection's zone, which the native route reads as UTC.
    return connection.vendor != "sqlite" or not settings.USE_TZ or connection.timezone_name == "UTC"


def selects_fields(compiler, fields):
    """Whether column i of the SQL is the schema's field i (ordering columns
    a DISTINCT query adds come after them, and are not read)."""
    select = compiler.select
    if len(select) != len(fields):
        return False
    for (column, _, _), field in zip(select, fields):
        if type(column) is not Col or column.target is not field or column.output_field is not field:
            return False
    return True


def plan_for(key, compiler, fields):
    try:
        return _plans[key]
    except KeyError:
        plan = _readers(compiler, fields)
        remember(_plans, key, plan)
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
            plan.append(RAW)
            continue
        if len(found) != 1:
            return None
        (converter,) = found
        func = getattr(converter, "__func__", None)
        owner = getattr(converter, "__self__", None)
        if func is JSONField.from_db_value and owner is field and field.decoder is None:
            plan.append(JSON_TEXT)
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
    return {ops.convert_datetimefield_value: DATETIME, ops.convert_datefield_value: DATE,
            ops.convert_timefield_value: TIME, ops.convert_uuidfield_value: UUID_HEX,
            ops.convert_booleanfield_value: BOOL}


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
        reader = DECIMAL
    else:
        # Older converters round integers to 15 digits as well.
        create = cells.get("create_decimal")
        context = getattr(create, "__self__", None)
        if (getattr(create, "__name__", None) != "create_decimal_from_float" or not isinstance(context, decimal.Context)
                or context.prec != 15 or context.rounding != decimal.ROUND_HALF_EVEN):
            return None
        reader = DECIMAL_ROUNDED_INTS
    places, digits = field.decimal_places, field.max_digits
    if (not isinstance(places, int) or not isinstance(digits, int) or places < 0 or digits < 1
            or cells.get("quantize_value") != decimal.Decimal(1).scaleb(-places)
            or field.context.prec != digits or field.context.rounding != decimal.ROUND_HALF_EVEN
            or not field.context.traps[decimal.InvalidOperation]):
        return None
    return (reader, digits, places)


# psycopg loaders (by type oid) whose values the native PostgreSQL readers
# reproduce from the server's text; filled at the first use.
_pg_loaders: dict[int, frozenset[type]] = {}
_PG_LOADER_NAMES = {
    16: ("bool", "BoolLoader"), 17: ("string", "ByteaLoader"), 20: ("numeric", "IntLoader"),
    21: ("numeric", "IntLoader"), 23: ("numeric", "IntLoader"), 25: ("string", "TextLoader"),
    700: ("numeric", "FloatLoader"), 701: ("numeric", "FloatLoader"), 1043: ("string", "TextLoader"),
    1082: ("datetime", "DateLoader"), 1083: ("datetime", "TimeLoader"), 1114: ("datetime", "TimestampLoader"),
    1184: ("datetime", "TimestamptzLoader"), 1700: ("numeric", "NumericLoader"), 2950: ("uuid", "UUIDLoader"),
    # Django loads jsonb as text; JSONField's converter reads it.
    3802: ("string", "TextLoader"),
}
_TIMESTAMPTZ_OID = 1184


def _known_pg_loaders():
    if not _pg_loaders:
        import importlib

        try:
            from psycopg_binary import _psycopg as optimised
        except ImportError:
            optimised = None
        for oid, (module, name) in _PG_LOADER_NAMES.items():
            classes = {getattr(importlib.import_module(f"psycopg.types.{module}"), name)}
            if hasattr(optimised, name):
                classes.add(getattr(optimised, name))
            _pg_loaders[oid] = frozenset(classes)
    return _pg_loaders


def _utc_or_naive(zone):
    return zone is None or zone is datetime.timezone.utc or getattr(zone, "key", None) == "UTC"


def pg_text_readable(cursor):
    """Whether psycopg would load every column of the result a psycopg 3
    cursor holds after execute() as the native readers read the server's
    text of it: a UTC, ISO-dated, UTF-8 session and psycopg's (or Django's)
    own text loaders. Which columns are read, and how, the native side then
    decides from the result's type oids and the plan."""
    from django.db.backends.postgresql.psycopg_any import BaseTzLoader, orig_tz_loader_cls
    from psycopg.pq import Format

    status = cursor.connection.pgconn.parameter_status
    if (status(b"TimeZone") != b"UTC" or not (status(b"DateStyle") or b"").startswith(b"ISO,")
            or status(b"client_encoding") != b"UTF8"):
        return False
    known = _known_pg_loaders()
    adapters = cursor.adapters
    for column in cursor.description or ():
        oid = column.type_code
        loader = adapters.get_loader(oid, Format.TEXT)
        if loader in known.get(oid, ()):
            continue
        # Django's loader of aware datetimes in its zone: the instant the
        # server wrote, with the zone replaced (or dropped, without USE_TZ).
        if not (oid == _TIMESTAMPTZ_OID and isinstance(loader, type) and issubclass(loader, BaseTzLoader)
                and loader.load is BaseTzLoader.load and loader.__init__ is BaseTzLoader.__init__
                and orig_tz_loader_cls in known[oid] and _utc_or_naive(loader.timezone)):
            return False
    return True

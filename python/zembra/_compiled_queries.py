"""The two queries DRF runs per request input, compiled once.

DRF's ``UniqueValidator`` asks ``queryset.filter(<field>__exact=value).exists()``
and its ``PrimaryKeyRelatedField`` asks ``queryset.get(pk=value)``. Building
those query sets and compiling their SQL costs several times what running
them costs. For the plain case (the model's default manager, no filters, no
custom query set class, SQLite or PostgreSQL) the SQL is compiled once per
database with a stand-in value and checked to take that value as its only
parameter; each call then prepares the value as the lookup prepares it and
runs the same SQL on the same connection's cursor, building the related
object as ``QuerySet.get`` builds it (``from_db`` after the column
converters). Anything else answers ``None``: the caller takes DRF's route.
"""

from __future__ import annotations

import uuid

from django.db import DataError, connections, models
from django.db.models import QuerySet
from django.db.models.manager import BaseManager
from django.db.models.query import MAX_GET_RESULTS, ModelIterable

__all__ = ["UniqueQuery", "RelatedQuery"]

_VENDORS = ("sqlite", "postgresql")
_NO_ROUTE = object()


def _plain_manager(queryset):
    """The manager when ``queryset`` is a plain default manager (its query
    set is the model's table as it is), else None."""
    if not isinstance(queryset, BaseManager) or type(queryset).get_queryset is not BaseManager.get_queryset:
        return None
    if getattr(queryset, "_queryset_class", None) is not QuerySet:
        return None
    return queryset


def _stand_in(field):
    """A value of the field's type that no real value is confused with in
    the compiled parameters."""
    internal = field.get_internal_type()
    if internal in ("CharField", "TextField", "SlugField", "EmailField", "URLField"):
        return "zembra stand-in 5c1e9a"
    if internal in ("AutoField", "BigAutoField", "SmallAutoField", "IntegerField", "BigIntegerField",
                    "SmallIntegerField", "PositiveIntegerField", "PositiveSmallIntegerField",
                    "PositiveBigIntegerField"):
        return 29_711
    if internal == "UUIDField":
        return uuid.UUID("5c1e9a00-0000-4000-8000-00000000a9e1")
    return _NO_ROUTE


def _prepared(field, value, connection):
    """The parameter an exact lookup on ``field`` passes for ``value``."""
    return field.get_db_prep_value(field.get_prep_value(value), connection, prepared=True)


# Django's own preparation of these fields gives a str for a str and an int
# for an int unchanged: the per-call preparation can be left out.
_PLAIN_PREP = (models.CharField.get_prep_value, models.TextField.get_prep_value,
               models.IntegerField.get_prep_value)


def _preparer(field, stand_in):
    cls = type(field)
    if type(stand_in) in (str, int) and cls.get_prep_value in _PLAIN_PREP \
            and cls.get_db_prep_value is models.Field.get_db_prep_value:
        return None
    return _prepared


def _bounds(field, alias):
    """The integer range of the field's column on the database, or None."""
    if not isinstance(field, (models.IntegerField, models.AutoField)):
        return None
    try:
        return connections[alias].ops.integer_field_range(field.get_internal_type())
    except KeyError:
        return None


def _fits(bounds, value) -> bool:
    if bounds is None or type(value) is not int:
        return True
    low, high = bounds
    return (low is None or value >= low) and (high is None or value <= high)


class _Compiled:
    """SQL per database alias, compiled on first use (None: not plain)."""

    __slots__ = ("by_alias",)

    def __init__(self):
        self.by_alias = {}

    def get(self, alias, compile_for):
        found = self.by_alias.get(alias, _NO_ROUTE)
        if found is _NO_ROUTE:
            connection = connections[alias]
            found = compile_for(alias, connection) if connection.vendor in _VENDORS else None
            self.by_alias[alias] = found
        return found


def _with_stand_in(sql_params, field, stand_in, connection):
    """(sql, params, position of the stand-in's parameter), or None unless
    the stand-in is exactly one of the parameters."""
    sql, params = sql_params
    wanted = _prepared(field, stand_in, connection)
    found = [i for i, param in enumerate(params) if type(param) is type(wanted) and param == wanted]
    if len(found) != 1:
        return None
    return sql, list(params), found[0]


def _run(cursor, compiled, param):
    sql, params, position = compiled[:3]
    params = params.copy()
    params[position] = param
    cursor.execute(sql, params)


class UniqueQuery:
    """``UniqueValidator``'s question for a new object, on its compiled SQL."""

    def __init__(self, validator, model_field):
        self.manager = _plain_manager(validator.queryset)
        self.field = model_field
        self.lookup = f"{model_field.name}__exact"
        self.stand_in = _stand_in(model_field)
        self.prepare = _preparer(model_field, self.stand_in)
        self.sql = _Compiled()
        self.usable = (self.manager is not None and validator.lookup == "exact" and not model_field.is_relation
                       and self.stand_in is not _NO_ROUTE and model_field.model is self.manager.model)

    def _compile(self, alias, connection):
        query = self.manager.db_manager(alias).filter(**{self.lookup: self.stand_in}).query.exists()
        compiled = _with_stand_in(query.get_compiler(using=alias).as_sql(), self.field, self.stand_in, connection)
        return None if compiled is None else (*compiled, _bounds(self.field, alias))

    def exists(self, value):
        """True or False as ``qs_exists(queryset.filter(...))`` answers, or
        None where DRF's own route must answer."""
        if not self.usable or type(value) is not type(self.stand_in):
            return None
        alias = self.manager.db
        compiled = self.sql.get(alias, self._compile)
        if compiled is None or not _fits(compiled[3], value):
            return None  # Django answers an integer outside the column's range without a query
        connection = connections[alias]
        try:
            param = value if self.prepare is None else self.prepare(self.field, value, connection)
            with connection.cursor() as cursor:
                _run(cursor, compiled, param)
                return cursor.fetchone() is not None
        except (TypeError, ValueError, DataError):
            return False


class RelatedQuery:
    """``queryset.get(pk=value)`` of a ``PrimaryKeyRelatedField``, on its compiled SQL."""

    def __init__(self, queryset):
        self.manager = _plain_manager(queryset)
        self.model = queryset.model
        self.pk = self.model._meta.pk
        self.stand_in = _stand_in(self.pk)
        self.prepare = _preparer(self.pk, self.stand_in)
        self.sql = _Compiled()
        self.usable = self.manager is not None and self.stand_in is not _NO_ROUTE and not self.pk.is_relation

    def _compile(self, alias, connection):
        queryset = self.manager.db_manager(alias).filter(pk=self.stand_in).order_by()
        query = queryset.query
        if query.select_for_update or query.select_related or query.deferred_loading[0] or query.annotations \
                or queryset._iterable_class is not ModelIterable:
            return None
        query.set_limits(high=MAX_GET_RESULTS)
        compiler = query.get_compiler(using=alias)
        sql = _with_stand_in(compiler.as_sql(), self.pk, self.stand_in, connection)
        if sql is None or compiler.klass_info is None or compiler.annotation_col_map:
            return None
        start, stop = compiler.klass_info["select_fields"][0], compiler.klass_info["select_fields"][-1] + 1
        if start != 0 or stop != len(compiler.select):
            return None
        names = [column[0].target.attname for column in compiler.select]
        converters = compiler.get_converters([column[0] for column in compiler.select])
        return (*sql, names, compiler if converters else None, converters, _bounds(self.pk, alias))

    def get(self, value):
        """The object ``queryset.get(pk=value)`` returns, ``False`` for
        ``DoesNotExist`` (also for an integer outside the key column's range,
        which cannot exist), or None where DRF's own route must answer."""
        if not self.usable or type(value) is not type(self.stand_in):
            return None
        alias = self.manager.db
        compiled = self.sql.get(alias, self._compile)
        if compiled is None:
            return None
        names, compiler, converters, bounds = compiled[3:]
        if not _fits(bounds, value):
            return False
        connection = connections[alias]
        param = value if self.prepare is None else self.prepare(self.pk, value, connection)
        with connection.cursor() as cursor:
            _run(cursor, compiled, param)
            rows = cursor.fetchmany(MAX_GET_RESULTS)
        if len(rows) != 1:
            return False if not rows else None  # several: DRF's route raises as QuerySet.get does
        row = rows[0]
        if compiler is not None:
            row = next(iter(compiler.apply_converters([row], converters)))
        return self.model.from_db(alias, names, row)



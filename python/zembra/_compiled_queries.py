"""The queries DRF runs per request input and per created object, compiled once.

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

``CompiledInsert`` is ``manager.create(**values)`` for a plain model: the same
steps ``Model.save`` takes (signals, related-field checks, ``pre_save``, the
database's preparation of each value, returned columns), with the INSERT's SQL
built once per database and column set instead of per object.
"""

from __future__ import annotations

import uuid

import django
from django.db import DataError, connections, models, router, transaction
from django.db.backends.base.operations import BaseDatabaseOperations
from django.db.models import QuerySet, signals
from django.db.models.expressions import DatabaseDefault
from django.db.models.manager import BaseManager
from django.db.models.query import MAX_GET_RESULTS, ModelIterable
from django.db.models.sql import InsertQuery

__all__ = ["UniqueQuery", "RelatedQuery", "CompiledInsert"]

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




# The save steps below follow Model.save/save_base/_save_table and
# SQLInsertCompiler.execute_sql of these Django releases; on others the
# manager's create() runs.
_SAVE_STEPS_KNOWN = (6, 1) <= django.VERSION[:2] < (6, 2)
_MODEL_SAVE_METHODS = ("save", "save_base", "_save_table", "_save_parents", "_do_insert", "_is_pk_set",
                       "_prepare_related_fields_for_save", "_assign_returned_values", "_validate_force_insert",
                       "_get_pk_val")
_KEPT_KEYS = 16  # (database, primary key set, returned columns) combinations kept per model


def _plain_model(model) -> bool:
    """Saved by Django's own steps: no save method overridden, one table."""
    meta = model._meta
    if meta.parents or meta.proxy or meta.auto_created or meta.order_with_respect_to or meta.pk is None \
            or len(meta.pk_fields) != 1:
        return False
    for klass in model.__mro__:
        if klass is models.Model:
            return True
        if any(name in vars(klass) for name in _MODEL_SAVE_METHODS):
            return False
    return False


def _plain_placeholder(field) -> bool:
    """The field's value goes in as one ``%s`` parameter (a binary field's
    placeholder is the backend's: plain on SQLite and PostgreSQL)."""
    own = getattr(type(field), "get_placeholder_sql", None)
    return own is None or own is models.BinaryField.get_placeholder_sql


class CompiledInsert:
    """``model._default_manager.create(**values)`` with the INSERT's SQL
    compiled once per database, primary-key state and returned columns."""

    def __init__(self, model):
        meta = model._meta
        self.model = model
        self.manager = _plain_manager(model._default_manager)
        self.usable = (_SAVE_STEPS_KNOWN and self.manager is not None and _plain_model(model)
                       and type(self.manager).create is models.Manager.create
                       and _plain_manager(model._base_manager) is not None
                       and not any(f.has_db_default() or not _plain_placeholder(f) for f in meta.local_concrete_fields))
        self.reverse_one_to_one = meta._reverse_one_to_one_field_names if self.usable else frozenset()
        self.by_key = {}

    def _compile(self, obj, alias, pk_set, returning_fields):
        """(insert fields, sql, returning params, compiler, converters), None
        where the SQL is not the plain one, or _NO_ROUTE (not kept) where
        this object's values cannot be prepared."""
        connection = connections[alias]
        if connection.vendor not in _VENDORS \
                or type(connection.ops).binary_placeholder_sql is not BaseDatabaseOperations.binary_placeholder_sql:
            return None
        meta = self.model._meta
        fields = [f for f in meta.local_concrete_fields if not f.generated and (pk_set or f is not meta.auto_field)]
        if not fields:
            return None
        # Django's own SQL for this object; raw: its values as pre_save() left them.
        query = InsertQuery(self.model)
        query.insert_values(fields, [obj], raw=True)
        compiler = query.get_compiler(using=alias)
        compiler.returning_fields = returning_fields
        try:
            [(sql, params)] = compiler.as_sql()
        except Exception:  # Django's route raises it again, as Django does
            return _NO_ROUTE
        returning_params = tuple(compiler.returning_params)
        if len(params) != len(fields) + len(returning_params) or sql.count("%s") != len(fields):
            return None
        converters = None
        if returning_fields:
            if connection.features.can_return_columns_from_insert:
                columns = [f.get_col(meta.db_table) for f in returning_fields]
            elif isinstance(returning_fields[0], models.AutoField):
                columns = [returning_fields[0].get_col(meta.db_table)]
            else:
                columns = []
            converters = compiler.get_converters(columns) or None
        query.objs = []  # the compiler is kept for its converters, not this object
        return fields, sql, returning_params, compiler, converters

    def create(self, values):
        """The created object, or None where the manager's create() must run."""
        if not self.usable or not self.reverse_one_to_one.isdisjoint(values):
            return None
        manager = self.manager
        using = manager._db or router.db_for_write(self.model, **manager._hints)
        if connections[using].vendor not in _VENDORS:
            return None
        obj = self.model(**values)
        # Model.save(force_insert=True, using=using)
        obj._prepare_related_fields_for_save(operation_name="save")
        cls = type(obj)
        signals.pre_save.send(sender=cls, instance=obj, raw=False, using=using, update_fields=None)
        with transaction.mark_for_rollback_on_error(using=using):
            force_insert = obj._validate_force_insert(True)
            parent_inserted = obj._save_parents(cls, using, None, force_insert)
            if not self._insert(obj, cls, using):
                obj._save_table(False, cls, force_insert or parent_inserted, False, using, None)
        obj._state.db = using
        obj._state.adding = False
        signals.post_save.send(sender=cls, instance=obj, created=True, update_fields=None, raw=False, using=using)
        obj._state.fetch_mode = _FETCH_MODE
        return obj

    def _insert(self, obj, cls, using) -> bool:
        """_save_table's INSERT branch on compiled SQL; False (nothing done
        but pre_save() calls) where a value or column set needs Django's."""
        meta = cls._meta
        pk = meta.pk
        if not obj._is_pk_set(meta) and not isinstance(getattr(obj, pk.attname), DatabaseDefault):
            setattr(obj, pk.attname, pk.get_pk_value_on_save(obj))
        pk_set = obj._is_pk_set(meta)
        connection = connections[using]
        returning_fields = list(meta.db_returning_fields)
        can_return = connection.features.can_return_columns_from_insert
        for field in meta.local_concrete_fields:
            if field.generated or not (pk_set or field is not meta.auto_field):
                continue
            value = field.pre_save(obj, add=True)
            if hasattr(value, "resolve_expression"):
                return False
            if field.db_returning and not can_return and not (pk_set and field is meta.auto_field):
                returning_fields.remove(field)
        key = (using, pk_set, tuple(returning_fields))
        compiled = self.by_key.get(key, _NO_ROUTE)
        if compiled is _NO_ROUTE:
            compiled = self._compile(obj, using, pk_set, returning_fields)
            if compiled is _NO_ROUTE:
                return False
            if len(self.by_key) < _KEPT_KEYS:
                self.by_key[key] = compiled
        if compiled is None:
            return False
        fields, sql, returning_params, compiler, converters = compiled
        params = []
        for field in fields:
            value = field.pre_save(obj, add=True)
            if hasattr(value, "resolve_expression"):
                return False
            value = field.get_db_prep_save(value, connection=connection)
            if hasattr(value, "as_sql"):  # compiled into the SQL by Django
                return False
            params.append(value)
        params.extend(returning_params)
        rows = None
        with connection.cursor() as cursor:
            cursor.execute(sql, tuple(params))
            if returning_fields:
                if can_return:
                    rows = connection.ops.fetch_returned_rows(cursor, returning_params)
                elif isinstance(returning_fields[0], models.AutoField):
                    rows = [(connection.ops.last_insert_id(cursor, meta.db_table, returning_fields[0].column),)]
        if rows:
            if converters:
                rows = list(compiler.apply_converters(rows, converters))
            obj._assign_returned_values(rows[0], returning_fields)
        return True


try:
    from django.db.models.query import DEFAULT_FETCH_MODE as _FETCH_MODE
except ImportError:  # releases without fetch modes take the manager's create() anyway
    _FETCH_MODE = None

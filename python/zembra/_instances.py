"""A query set's model instances, built as Django's iterator builds them but
without running ``Model.__init__`` per row.

``Model.from_db`` calls ``Model.__init__``, which walks every field, sends
two signals and sets each attribute through ``setattr``: for a plain model
that costs several times what reading the row costs. Where nothing of the
model's own can run there (no ``from_db`` or ``__init__`` of its own, no
``pre_init``/``post_init`` receivers, every attribute Django's own plain
descriptor), an instance is exactly its ``__dict__``: the state first, then
each concrete field's value under its attname. ``objects`` builds that
directly from the rows Django's compiler reads (its converters applied), and
sets the ``select_related`` objects and the prefetched relations with
Django's own setters and ``prefetch_related_objects``. Anything else is
Django's to iterate (``None``).
"""

from __future__ import annotations

from itertools import chain

from django.conf import settings
from django.db.models import JSONField
from django.db.models.expressions import Col

from django.db.models import Model, prefetch_related_objects, signals
from django.db.models.base import ModelState
from django.db.models.fields.files import FileDescriptor, ImageFileDescriptor
from django.db.models.query import ModelIterable
from django.db.models.query_utils import DeferredAttribute
from django.db.models.fields.related_descriptors import ForeignKeyDeferredAttribute

from zembra._row_readers import BOOL, DATE, DATETIME, DECIMAL_ROUNDED_INTS, _sqlite_converters, _sqlite_decimal_reader
from zembra._speedups import convert_rows, model_objects

_PLAIN_DESCRIPTORS = (DeferredAttribute, ForeignKeyDeferredAttribute, FileDescriptor, ImageFileDescriptor)
_plain_models: dict[type, tuple[str, ...] | None] = {}


def _attnames(model) -> tuple[str, ...] | None:
    """The model's concrete attnames when its instances are plain (see the
    module's text), else None. Kept per class: it changes only when
    receivers connect, which is checked on every call."""
    if signals.pre_init.has_listeners(model) or signals.post_init.has_listeners(model):
        return None
    if model in _plain_models:
        return _plain_models[model]
    attnames = None
    if (model.from_db.__func__ is Model.from_db.__func__ and model.__init__ is Model.__init__
            and model.__setattr__ is object.__setattr__ and model.__new__ is object.__new__):
        names = tuple(f.attname for f in model._meta.concrete_fields)
        if all(type(model.__dict__.get(name, None) or _inherited(model, name)) in _PLAIN_DESCRIPTORS
               for name in names):
            attnames = names
    _plain_models[model] = attnames
    return attnames


def _inherited(model, name):
    for klass in model.__mro__:
        if name in vars(klass):
            return vars(klass)[name]
    return None


def _related_plain(model, select_related) -> bool:
    """Whether every model select_related() reaches is plain and reached by
    a forward relation (Django's column order is then each model's own)."""
    if select_related is False:
        return True
    if not isinstance(select_related, dict):
        return False  # select_related() of every relation: Django picks them
    for name, deeper in select_related.items():
        try:
            field = model._meta.get_field(name)
        except Exception:
            return False
        if not field.concrete or not (field.many_to_one or field.one_to_one) or _attnames(field.related_model) is None:
            return False
        if not _related_plain(field.related_model, deeper or False):
            return False
    return True


def plain_query(queryset) -> bool:
    """Whether ``objects(queryset)`` may build the query set's instances."""
    query = queryset.query
    return (queryset._iterable_class is ModelIterable and not queryset._known_related_objects
            and not queryset._fetch_mode.track_peers and not query.combinator
            and not query.annotation_select and not query.extra_select
            and query.deferred_loading == (frozenset(), True)
            and _attnames(queryset.model) is not None
            and _related_plain(queryset.model, query.select_related))


def objects(queryset) -> list | None:
    """``list(queryset)`` as Django builds it (and leaves the query set
    evaluated, as iterating it does), or None where ``plain_query`` says no."""
    if not plain_query(queryset):
        return None
    db = queryset.db
    fetch_mode = queryset._fetch_mode
    compiler = queryset.query.get_compiler(using=db)
    results = compiler.execute_sql()
    select, klass_info = compiler.select, compiler.klass_info
    main = _Builder(klass_info, select, db, fetch_mode)
    if main.attnames is None:
        return None  # the query's columns are not what the models say: not reached
    rows = _converted(compiler, results)
    out = main.objects(rows)
    queryset._result_cache = out
    if queryset._prefetch_related_lookups and not queryset._prefetch_done:
        prefetch_related_objects(out, *queryset._prefetch_related_lookups)
        queryset._prefetch_done = True
    return out


def _converted(compiler, results) -> list:
    """``list(compiler.results_iter(results))``: the raw rows through the
    columns' converters, the ones of Django's own that convert_rows knows
    read natively (it calls the converters for anything else)."""
    rows = list(chain.from_iterable(results))
    converters = compiler.get_converters([column[0] for column in compiler.select[0:compiler.col_count]])
    if not converters or not rows:
        return rows
    return convert_rows(rows, _converter_plan(compiler.connection, converters))


def _converter_plan(connection, converters) -> tuple:
    known = _sqlite_converters(connection) if connection.vendor == "sqlite" else {}
    codes = {BOOL: 1, DATETIME: 2, DATE: 3}
    plan = [None] * (max(converters) + 1)
    for position, (found, expression) in converters.items():
        code, zone = 0, None
        if len(found) == 1:
            func = getattr(found[0], "__func__", None)
            owner = getattr(found[0], "__self__", None)
            if (func is JSONField.from_db_value and isinstance(owner, JSONField) and owner.decoder is None
                    and type(expression) is Col):
                code = 4
            elif owner is connection.ops and codes.get(known.get(func)):
                code = codes[known[func]]
                if code == 2 and settings.USE_TZ:
                    zone = owner.connection.timezone
            elif connection.vendor == "sqlite" and type(expression) is Col:
                reader = _sqlite_decimal_reader(connection, found[0], expression.output_field)
                if reader is not None:
                    code, zone = 5, (reader[1], reader[2], reader[0] == DECIMAL_ROUNDED_INTS)
        plan[position] = (code, tuple(found), expression, connection, zone)
    return tuple(plan)


class _Builder:
    """Builds one model's instances from its columns of a row, and those of
    the select_related() models below it."""

    def __init__(self, klass_info, select, db, fetch_mode):
        model = klass_info["model"]
        fields = klass_info["select_fields"]
        start = fields[0]
        names = tuple(column[0].target.attname for column in select[start:fields[-1] + 1])
        self.attnames = names if names == _attnames(model) and not klass_info.get("from_parent") else None
        self.model, self.start = model, start
        self.state = {"adding": False, "db": db}
        if fetch_mode is not None:
            self.state["fetch_mode"] = fetch_mode
        self.pk_at = names.index(model._meta.pk_fields[0].attname) if self.attnames else 0
        self.related = [_Builder(info, select, db, fetch_mode) for info in klass_info.get("related_klass_infos", ())]
        if any(r.attnames is None for r in self.related):
            self.attnames = None
        self.local_setter = klass_info.get("local_setter")
        self.remote_setter = klass_info.get("remote_setter")

    def objects(self, rows):
        """The instances of the rows (None where an outer join found no
        related row), the select_related() ones set as Django sets them."""
        out = model_objects(rows, self.model, self.attnames, ModelState, self.state, self.start, self.pk_at)
        for related in self.related:
            local, remote = related.local_setter, related.remote_setter
            for obj, rel in zip(out, related.objects(rows)):
                if obj is None:
                    continue
                local(obj, rel)
                if rel is not None:
                    remote(rel, obj)
        return out

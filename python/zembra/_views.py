"""DRF's ``GenericAPIView.get_object()`` on a compiled query.

For a detail request DRF builds the view's query set, filters it, builds the
lookup's query set and compiles its SQL: several times what running the
query costs. ``CompiledLookupMixin`` keeps that SQL per query set, lookup
field and database, and for the plain case only (the view's own
``get_queryset`` and ``filter_queryset``, no filter backends, a query set
that ``QuerySet.get`` reads as one model row) runs it with the lookup value
as its one parameter, builds the object as ``QuerySet.get`` builds it and
answers 404 exactly as DRF's ``get_object_or_404`` does. Everything else
runs DRF's ``get_object``.
"""

from __future__ import annotations

import weakref

from django.core.exceptions import FieldDoesNotExist, ValidationError
from django.db import connections, models
from django.db.models import QuerySet, prefetch_related_objects
from django.db.models.query import MAX_GET_RESULTS, ModelIterable
from django.http import Http404
from django.utils.translation import gettext
from rest_framework.generics import GenericAPIView, get_object_or_404

from zembra._instances import _Builder, plain_query
from zembra._compiled_queries import _NO_ROUTE, _VENDORS, _bounds, _fits, _prepared, _run, _stand_in, _with_stand_in

__all__ = ["CompiledLookupMixin"]


def _plain_queryset(queryset) -> bool:
    """``queryset.get()`` reads exactly one row of the model's own columns
    and builds the object from it with nothing added afterwards."""
    if type(queryset) is not QuerySet or queryset._iterable_class is not ModelIterable:
        return False
    if queryset._known_related_objects or queryset._fields is not None \
            or queryset._deferred_filter or queryset._sticky_filter or queryset._fetch_mode.track_peers:
        return False
    query = queryset.query
    # No conditions of its own: their SQL may depend on more than the
    # database (a __date lookup's parameter is the active time zone).
    if query.where or query.extra or query.combinator or query.is_sliced or query.select_for_update \
            or query.distinct_fields or query.annotations:
        return False
    if query.select_related:
        # The related objects are built as Django's iterator builds them.
        return plain_query(queryset)
    model = queryset.model
    return model.from_db.__func__ is models.Model.from_db.__func__


def _lookup_model_field(model, lookup_field):
    if not isinstance(lookup_field, str) or "__" in lookup_field:
        return None
    meta = model._meta
    if lookup_field == "pk":
        field = meta.pk
    else:
        try:
            field = meta.get_field(lookup_field)
        except FieldDoesNotExist:
            return None
    if field is None or not field.concrete or field.is_relation or getattr(field, "generated", False):
        return None
    return field


class _LookupPlan:
    """``queryset.get(<lookup_field>=value)``'s SQL per database alias."""

    # The query set is not kept: a plan lives as long as its query set does.
    __slots__ = ("lookup_field", "field", "stand_in", "by_alias")

    def __init__(self, lookup_field, field):
        self.lookup_field = lookup_field
        self.field = field
        self.stand_in = _stand_in(field)
        self.by_alias = {}

    def compiled(self, queryset, alias):
        found = self.by_alias.get(alias, _NO_ROUTE)
        if found is _NO_ROUTE:
            found = self._compile(queryset, alias) if connections[alias].vendor in _VENDORS else None
            self.by_alias[alias] = found
        return found

    def _compile(self, queryset, alias):
        # As QuerySet.get builds it: filter, no ordering, MAX_GET_RESULTS rows.
        clone = queryset.using(alias).filter(**{self.lookup_field: self.stand_in})
        if clone.query.can_filter():
            clone = clone.order_by()
        query = clone.query
        query.set_limits(high=MAX_GET_RESULTS)
        compiler = query.get_compiler(using=alias)
        sql = _with_stand_in(compiler.as_sql(), self.field, self.stand_in, connections[alias])
        if sql is None or compiler.klass_info is None or compiler.annotation_col_map:
            return None
        start, stop = compiler.klass_info["select_fields"][0], compiler.klass_info["select_fields"][-1] + 1
        related = compiler.klass_info.get("related_klass_infos")
        if start != 0 or (stop != len(compiler.select) and not related):
            return None
        names = [column[0].target.attname for column in compiler.select[start:stop]]
        builder = None
        if related:
            builder = _Builder(compiler.klass_info, compiler.select, alias, queryset._fetch_mode)
            if builder.attnames is None:
                return None
        converters = compiler.get_converters([column[0] for column in compiler.select])
        return (*sql, names, compiler if converters else None, converters, _bounds(self.field, alias), builder)


# Per query set object (a view class's `queryset` attribute), per lookup field.
_plans: weakref.WeakKeyDictionary = weakref.WeakKeyDictionary()


def _plan_for(queryset, lookup_field):
    by_field = _plans.get(queryset)
    if by_field is None:
        by_field = _plans[queryset] = {}
    plan = by_field.get(lookup_field, _NO_ROUTE)
    if plan is _NO_ROUTE:
        plan = None
        if _plain_queryset(queryset):
            field = _lookup_model_field(queryset.model, lookup_field)
            if field is not None and _stand_in(field) is not _NO_ROUTE:
                plan = _LookupPlan(lookup_field, field)
        by_field[lookup_field] = plan
    return plan


class CompiledLookupMixin:
    """For ``GenericAPIView`` subclasses (``ModelViewSet``, ``RetrieveAPIView``
    ...): ``get_object()`` on SQL compiled once per query set, lookup field
    and database, when the view looks objects up as DRF's plain
    ``get_object`` does; DRF's ``get_object`` otherwise. Same object, same
    404s (with DRF's messages), same permission checks, same one query."""

    def get_object(self):
        if self.filter_backends and self._drfs_steps():
            # DRF's get_object runs the filter backends first; they run once
            # here too. Where they hand the query set back as it is (no
            # filter for this request), the lookup is the plain one.
            queryset = self.get_queryset()
            filtered = self.filter_queryset(queryset)
            obj = self._compiled_lookup(filtered=True) if filtered is queryset else _NO_ROUTE
            if obj is _NO_ROUTE:
                obj = self._drfs_lookup(filtered)
        else:
            obj = self._compiled_lookup()
            if obj is _NO_ROUTE:
                return super().get_object()
        # May raise a permission denied
        self.check_object_permissions(self.request, obj)
        return obj

    def _drfs_steps(self) -> bool:
        """Whether get_object, get_queryset and filter_queryset are DRF's own
        after this mixin (so its steps may be taken one by one here)."""
        cls = type(self)
        mro = cls.__mro__
        after = mro[mro.index(CompiledLookupMixin) + 1:]
        following = next((klass.__dict__["get_object"] for klass in after if "get_object" in klass.__dict__), None)
        return (following is GenericAPIView.get_object and cls.get_queryset is GenericAPIView.get_queryset
                and cls.filter_queryset is GenericAPIView.filter_queryset)

    def _drfs_lookup(self, queryset):
        """DRF's get_object after its filtering, on ``queryset``."""
        lookup_url_kwarg = self.lookup_url_kwarg or self.lookup_field
        assert lookup_url_kwarg in self.kwargs, (
            'Expected view %s to be called with a URL keyword argument '
            'named "%s". Fix your URL conf, or set the `.lookup_field` '
            'attribute on the view correctly.' %
            (self.__class__.__name__, lookup_url_kwarg)
        )
        filter_kwargs = {self.lookup_field: self.kwargs[lookup_url_kwarg]}
        return get_object_or_404(queryset, **filter_kwargs)

    def _compiled_lookup(self, filtered=False):
        """The object DRF's lookup finds, raising its Http404s, or _NO_ROUTE
        where DRF's own get_object must run (nothing run yet); ``filtered``:
        the filter backends have run and left the query set as it was."""
        cls = type(self)
        if cls.get_queryset is not GenericAPIView.get_queryset \
                or cls.filter_queryset is not GenericAPIView.filter_queryset or (self.filter_backends and not filtered):
            return _NO_ROUTE
        queryset = self.queryset
        if not isinstance(queryset, QuerySet):
            return _NO_ROUTE
        lookup_url_kwarg = self.lookup_url_kwarg or self.lookup_field
        if lookup_url_kwarg not in self.kwargs:
            return _NO_ROUTE
        plan = _plan_for(queryset, self.lookup_field)
        if plan is None:
            return _NO_ROUTE
        alias = queryset.db
        compiled = plan.compiled(queryset, alias)
        if compiled is None:
            return _NO_ROUTE
        names, compiler, converters, bounds, builder = compiled[3:]
        connection = connections[alias]
        field = plan.field
        try:
            param = _prepared(field, self.kwargs[lookup_url_kwarg], connection)
        except (TypeError, ValueError, ValidationError):
            raise Http404 from None  # DRF's get_object_or_404: a value the lookup refuses
        if type(param) is not type(compiled[1][compiled[2]]):
            return _NO_ROUTE
        if not _fits(bounds, param):
            return self._not_found()  # Django finds no row for an integer outside the column's range
        with connection.cursor() as cursor:
            _run(cursor, compiled, param)
            rows = cursor.fetchmany(MAX_GET_RESULTS)
        if not rows:
            return self._not_found()
        if len(rows) != 1:
            return _NO_ROUTE  # DRF's route raises MultipleObjectsReturned
        row = rows[0]
        if compiler is not None:
            row = next(iter(compiler.apply_converters([row], converters)))
        if builder is not None:
            obj = builder.objects([row])[0]
        else:
            obj = queryset.model.from_db(alias, names, row, fetch_mode=queryset._fetch_mode)
        if queryset._prefetch_related_lookups:
            prefetch_related_objects([obj], *queryset._prefetch_related_lookups)  # as QuerySet.get's evaluation does
        return obj

    def _not_found(self):
        # Django's get_object_or_404 message, translated when raised.
        raise Http404(gettext("No %s matches the given query.") % self.queryset.model._meta.object_name)

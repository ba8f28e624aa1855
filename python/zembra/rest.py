"""A drop-in for Django REST framework: ``ModelSerializer``, its
``ListSerializer`` and a ``JSONRenderer`` that write and read natively.

Declare serializers exactly as DRF's::

    from zembra.rest import ModelSerializer

    class ArticleSerializer(ModelSerializer):
        class Meta:
            model = Article
            fields = "__all__"
            read_only_fields = ["slug"]

The fields are the ones DRF's ``ModelSerializer`` builds (``Meta`` means what
it means to DRF, declared fields included). Once per class they are compiled:
the fields whose DRF class the native code knows become a column layout
(output) and an input plan (request input); every other field keeps DRF's own
code, and so does a serializer that overrides what the compiled route
replaces. Everything the database decides (related objects, uniqueness,
serializer-level validators) still runs, as DRF runs it.
"""

from __future__ import annotations

from zembra._requires import require

require("django", "zembra.rest", "rest")
require("rest_framework", "zembra.rest", "rest")

import copy  # noqa: E402  (after the check of what this module needs)
import logging
import threading
import datetime
import traceback
import types
from collections.abc import Mapping
from typing import Any

from django.conf import settings
from django.core.exceptions import ObjectDoesNotExist
from django.core.exceptions import ValidationError as DjangoValidationError
from django.db import connections, models
from django.db.models import prefetch_related_objects, signals
from django.db.models.manager import BaseManager
from django.db.models.query import ModelIterable, QuerySet
from django.utils import timezone
from django.utils.encoding import is_protected_type
from rest_framework import ISO_8601, DJANGO_DURATION_FORMAT, relations, renderers, serializers
from rest_framework import fields as drf
from rest_framework.exceptions import ValidationError
from rest_framework.fields import SkipField, empty, get_error_detail
from rest_framework.settings import api_settings
from rest_framework.utils import html, model_meta
from rest_framework.validators import UniqueValidator

from zembra._compiled_queries import CompiledInsert, RelatedQuery, UniqueQuery
from zembra._instances import objects
from zembra._urls import compile_link, hyperlink
from zembra._layer import (InputPlan, _Field, _input_kind, _many_keys, _output_kind, _target, key_fits, parse_input,
                           serialize_rows, settings_epoch)
from zembra._pagination import CursorPagination, LimitOffsetPagination, PageNumberPagination
from zembra._speedups import ColumnLayout, encode_json_plain

__all__ = ["ModelSerializer", "HyperlinkedModelSerializer", "ListSerializer", "JSONRenderer", "explain",
           "CompiledLookupMixin", "ModelViewSet", "ReadOnlyModelViewSet",
           "PageNumberPagination", "LimitOffsetPagination", "CursorPagination"]

_TEXT = {drf.CharField: "string", drf.EmailField: "email", drf.URLField: "url", drf.SlugField: "slug",
         drf.IPAddressField: "ip"}
_OUTPUT_TEXT = (drf.CharField, drf.EmailField, drf.URLField, drf.SlugField, drf.IPAddressField, drf.RegexField)
# Methods the compiled routes stand in for; a serializer that overrides one
# of them keeps DRF's route for that direction.
_OUTPUT_METHODS = ("__init__", "get_fields", "to_representation", "fields")
_INPUT_METHODS = ("__init__", "get_fields", "to_internal_value", "fields", "_writable_fields")


class _FieldContext:
    """What DRF's UniqueValidator reads from the field it checks."""

    __slots__ = ("source_attrs", "parent")

    def __init__(self, source, parent):
        self.source_attrs = [source]
        self.parent = parent


def _simple_source(field) -> str | None:
    source = field.source
    if not source or source == "*" or "." in source:
        return None
    return source


def _concrete_field(model, name):
    try:
        field = model._meta.get_field(name)
    except Exception:
        return None
    if field.auto_created and not field.concrete:
        return None
    if _several_columns(field):
        return None
    return field


def _relation_named(model, name):
    """The to-many relation an attribute of the model's instances reads: a
    many-to-many field, or a reverse relation by its accessor's name."""
    for relation in model._meta.get_fields():
        if relation.auto_created and not relation.concrete and relation.is_relation:
            if relation.get_accessor_name() == name:
                return relation
        elif relation.name == name:
            return relation if relation.is_relation else None
    return None


def _several_columns(field) -> bool:
    """A relation over several columns (a ForeignObject): DRF's code reads it."""
    return isinstance(field, models.ForeignObject) and not field.many_to_many and len(field.to_fields) != 1


def _overrides(cls, names) -> bool:
    return _overridden(cls, names) is not None


def _overridden(cls, names) -> str | None:
    """The first of ``names`` a class between ``cls`` and this module's
    ModelSerializer defines (as "Class.name"), or None."""
    for klass in cls.__mro__:
        if klass is ModelSerializer:
            return None
        for name in names:
            if name in vars(klass):
                return f"{klass.__name__}.{name}"
    return None


def _django_validator(validator) -> bool:
    """A validator of Django's own (it raises only Django's ValidationError
    and needs no context): the input parser may run it."""
    if getattr(validator, "requires_context", False):
        return False
    if isinstance(validator, types.FunctionType):
        module = validator.__module__
    else:
        module = type(validator).__module__
    return bool(module) and module.startswith("django.")


class _Compiled:
    """A serializer class's fields compiled once."""

    def __init__(self, cls):
        self.epoch = settings_epoch()
        self.output = self.input = None
        self.serializer_validators = self.nested_writes = True
        self.routes, self.row_ready, self.fallback_in = {}, False, frozenset()
        overridden = _overridden(cls, ("__init__", "get_fields", "fields"))
        if overridden:
            # Fields that may differ per instance: DRF's routes throughout.
            self.whole = f"the class overrides {overridden}: DRF's code for every field"
            return
        self.whole = None
        proto = cls()
        self.model = cls.Meta.model
        fields = proto.fields
        self.readable = [f for f in fields.values() if not f.write_only]
        self.writable = [f for f in fields.values() if not f.read_only]
        self.prototypes = dict(fields)
        self.needs_utc = False
        self.output = None if _overrides(cls, _OUTPUT_METHODS) else self._compile_output()
        self.input = None if _overrides(cls, _INPUT_METHODS) else self._compile_input(cls)
        if self.output is None:
            method = _overridden(cls, _OUTPUT_METHODS)
            self.whole = (f"the class overrides {method}: DRF's code for its output" if method
                          else "no field has a native form: DRF's code for its output")
        _report_fallback(cls, self)
        self.serializer_validators = bool(proto.validators) or any(
            f.read_only and f.default is not empty for f in fields.values())
        # Every to-many relation, reverse ones included, is set after the
        # object is saved, as DRF's create() and update() set them.
        self.many_to_many = {name for name, relation in model_meta.get_field_info(self.model).relations.items()
                             if relation.to_many}
        self.nested_writes = any(isinstance(f, serializers.BaseSerializer) or "." in (f.source or "")
                                 for f in self.writable)
        self.insert = CompiledInsert(self.model)

    # -- output ---------------------------------------------------------

    def _compile_output(self):
        specs, columns, self.calls, self.routes, self.nested_lists = [], [], [], {}, []
        self.row_ready = True
        for field in self.readable:
            name = field.field_name
            spec, reason = self._column(field)
            if spec is None:
                # DRF's own code for this field, called per object from the
                # native loop; every other field stays native.
                columns.append((name, name, "call", {"call": len(self.calls)}))
                self.calls.append(name)
                self.row_ready = False
                self.routes[name] = (_call_route(field), reason)
                continue
            specs.append(spec)
            columns.append(spec.column())
            self.row_ready &= spec.rows
            self.routes[name] = ("native", reason if spec.rows else reason + "; needs model instances")
        self.specs = specs
        if not specs:
            return None
        return ColumnLayout(columns, self._missing_keys, skip=_SKIP)

    def _missing_keys(self, instance, key):
        # DRF reads an unprefetched to-many field with a query per object, so does this.
        if getattr(instance, "pk", None) is None:
            return []
        spec = next(s for s in self.specs if s.name == key)
        # DRF's own query (whole objects): without an ordering of the related
        # model, the database's order depends on the query's shape.
        return [getattr(related, spec.to_field.attname) for related in getattr(instance, spec.accessor).all()]

    def _column(self, field) -> tuple[_Column | None, str]:
        """The native column of a field and why, or (None, why DRF's code
        answers for it)."""
        cls = type(field)
        if isinstance(field, ModelSerializer):
            return self._nested(field)
        if isinstance(field, serializers.ListSerializer) and isinstance(field.child, ModelSerializer):
            relation = _relation_named(self.model, field.source) if field.source else None
            if relation is not None and (relation.many_to_many or relation.one_to_many):
                self.nested_lists.append(field.source)
                return None, "a nested list serializer (it writes natively itself; a list prefetches its objects)"
        if isinstance(field, serializers.BaseSerializer):
            return None, "a nested serializer (which writes natively itself)"
        link = field.child_relation if cls is relations.ManyRelatedField else field
        if isinstance(link, relations.HyperlinkedRelatedField):
            return None, ("a hyperlink: a list builds its URLs from the view's pattern compiled once "
                          "(DRF's reverse() where that cannot be proven)")
        if cls is serializers.SerializerMethodField:
            return None, "the method, called per object from the native loop"
        if field.source == "*" or not field.source:
            return None, f"{cls.__name__} reads the whole object"
        parts = field.source.split(".")
        path = self._path(parts[:-1])
        if path is None:
            return None, f"source {field.source!r} is not a chain of forward relations"
        if len(parts) > 1 and field.default is not empty:
            return None, "a dotted source with a default"
        model = path[-1].related_model if path else self.model
        last = parts[-1]
        if cls is relations.ManyRelatedField:
            if path:
                return None, "a to-many relation behind a dotted source"
            return self._many(field, model, last)
        model_field = _concrete_field(model, last)
        if model_field is None:
            return None, f"{last!r} is not a concrete field of {model.__name__} (a property, method or reverse relation)"
        spec, reason = self._value_column(field, cls, model_field, last)
        if spec is None:
            return None, reason
        names = [f.name for f in path]
        spec.rows &= not any(f.null for f in path)
        if path:
            spec.chain = tuple(names) + (spec.chain or (spec.attribute,))
            spec.attribute = "__".join(names + [spec.attribute])
            # None on the way (or a missing related row) is DRF's to answer.
            spec.fallback = _drf_value(self.prototypes[field.field_name])
            reason = f"{reason} through {'.'.join(names)}"
        return spec, reason

    def _nested(self, field):
        """A nested serializer of this module over a forward relation: its
        own layout, written for the related object."""
        nested = _compiled(type(field))
        if nested.output is None or nested.calls or nested.model is None:
            return None, "a nested serializer with fields of DRF's code (it writes natively itself)"
        parts = (field.source or "").split(".")
        path = self._path(parts)
        if not path or field.default is not empty or path[-1].related_model is not nested.model:
            return None, "a nested serializer (which writes natively itself) not over a forward relation"
        self.needs_utc |= nested.needs_utc
        last = path[-1]
        spec = _Column(field.field_name, last, "__".join(f.name for f in path), "nested", {"layout": nested.output},
                       True)
        spec.chain = tuple(f.name for f in path)
        spec.fallback = _drf_value(self.prototypes[field.field_name])
        spec.rows = False
        return spec, f"the nested serializer's own layout through {'.'.join(spec.chain)}"

    def _path(self, names):
        """The forward relations a dotted source walks, or None."""
        path, model = [], self.model
        for name in names:
            field = _concrete_field(model, name)
            if field is None or not (field.many_to_one or field.one_to_one) or field.name != name:
                return None
            path.append(field)
            model = field.related_model
        return path

    def _value_column(self, field, cls, model_field, last):
        name = field.field_name
        if cls is relations.PrimaryKeyRelatedField or cls is relations.SlugRelatedField:
            if not model_field.is_relation or model_field.many_to_many or last != model_field.name:
                return None, "a related field whose source is not a relation"
            if cls is relations.PrimaryKeyRelatedField:
                if field.pk_field is not None or not model_field.target_field.primary_key:
                    return None, "a primary key field with pk_field or a relation to another field"
                target = _target(model_field)
                # DRF gives the key as the attribute holds it: a UUID or a
                # Decimal stays that object in .data.
                return self._spec(name, model_field, model_field.attname, target, _key_kind(target), _as_is), \
                    "the related key"
            if field.slug_field == model_field.target_field.attname:
                target = _target(model_field)
                return self._spec(name, model_field, model_field.attname, target, _key_kind(target), _as_is), \
                    "the related key"
            slug = _concrete_field(model_field.related_model, field.slug_field)
            if slug is None or slug.is_relation:
                return None, f"slug_field {field.slug_field!r} is not a plain field"
            spec = self._spec(name, slug, f"{model_field.name}__{slug.attname}", slug, _key_kind(slug), _as_is)
            spec.chain = (model_field.name, slug.attname)
            spec.rows = not model_field.null
            spec.fallback = _drf_value(self.prototypes[name])
            return spec, f"the related object's {field.slug_field}"
        if cls is relations.StringRelatedField:
            if not model_field.is_relation or model_field.many_to_many or last != model_field.name:
                return None, "a string field whose source is not a relation"
            spec = self._spec(name, model_field, model_field.name, model_field, "str", None)
            spec.rows = False
            return spec, "str() of the related object"
        if model_field.is_relation:
            if last != model_field.attname or last == model_field.name:
                return None, "a relation read as an object"
            kind_field = _target(model_field)  # the key itself (source="owner_id")
        else:
            kind_field = model_field
        if cls is drf.ReadOnlyField:
            kind = _output_kind(kind_field)
            if kind in ("str", "int", "float", "bool"):
                return self._spec(name, model_field, model_field.attname, kind_field, kind, _as_is), "as it is"
            spec = self._spec(name, model_field, model_field.attname, kind_field, "json", None)
            spec.rows = False  # the row route's readers write these kinds as text
            return spec, "as it is"
        kind = self._output_kind(field, kind_field)
        if kind is None:
            return None, f"{cls.__name__} with these options has no native form"
        # A value that is not of the kind's own type (assigned, not yet
        # reloaded) is written by the field's own code, as DRF writes it.
        represent = _model_field_value if cls is drf.ModelField else field.to_representation
        return self._spec(name, model_field, model_field.attname, kind_field, kind, represent), "native"

    def _many(self, field, model, last):
        child = field.child_relation
        relation = _relation_named(model, last)
        if relation is None:
            return None, f"{last!r} is not a relation of {model.__name__}"
        if not (relation.many_to_many or relation.one_to_many):
            return None, "a to-many field over a single relation"
        related = relation.related_model
        if not relation.auto_created:  # a many-to-many field of this model
            accessor, cache, query_name = relation.name, relation.name, relation.related_query_name()
        else:
            accessor = relation.get_accessor_name()
            if accessor != last:
                return None, "a reverse relation under another name"
            remote = relation.field
            if relation.one_to_many:
                if not remote.target_field.primary_key or _several_columns(remote):
                    return None, "a reverse relation to a field other than the primary key"
                cache = relation.cache_name
            else:
                if not remote.remote_field.through._meta.auto_created:
                    return None, "a reverse many-to-many relation through a model of its own"
                cache = remote.related_query_name()
            query_name = remote.name
        if type(child) is relations.PrimaryKeyRelatedField and child.pk_field is None:
            # DRF writes each related object's primary key, whatever field
            # the through table refers to.
            item = _target(related._meta.pk)
            reason = "the related keys"
        elif type(child) is relations.SlugRelatedField:
            item = _concrete_field(related, child.slug_field)
            if item is None or item.is_relation:
                return None, f"slug_field {child.slug_field!r} is not a plain field"
            reason = f"the related objects' {child.slug_field}"
        else:
            return None, f"a list of {type(child).__name__}"
        spec = _Column(field.field_name, relation, accessor, "many",
                       {"cache": cache, "item_attribute": item.attname, "item_kind": _key_kind(item),
                        "group_attribute": model._meta.pk.attname},
                       True, relation="many", related_model=related, to_field=item)
        spec.query_name, spec.accessor = query_name, accessor
        return spec, reason

    def _spec(self, name, model_field, attribute, kind_field, kind=None, represent=None):
        kind = kind or _output_kind(kind_field)
        options = {"represent": represent} if kind not in ("bytes", "file", "json") and represent else {}
        if kind == "decimal":
            options["decimal_places"] = kind_field.decimal_places
        if kind in ("datetime", "time"):
            options["iso"] = True
            self.needs_utc |= kind == "datetime"
        return _Column(name, model_field, attribute, kind, options, True)

    @staticmethod
    def _output_kind(field, model_field) -> str | None:
        cls = type(field)
        if cls is drf.IntegerField:
            return "int"
        if cls is drf.BigIntegerField:
            return None if getattr(field, "coerce_to_string", api_settings.COERCE_BIGINT_TO_STRING) else "int"
        if cls is drf.FloatField:
            return "float"
        if cls is drf.DecimalField:
            plain = (getattr(field, "coerce_to_string", api_settings.COERCE_DECIMAL_TO_STRING)
                     and not field.localize and not field.normalize_output and field.rounding is None
                     and field.decimal_places is not None)
            # The native decimal holds 28 digits (96 bits); wider columns are DRF's.
            fits = isinstance(model_field, models.DecimalField) and (model_field.max_digits or 29) <= 28
            return "decimal" if plain and fits else None
        if cls is drf.BooleanField:
            return "bool"
        if cls in _OUTPUT_TEXT:
            return "str"
        if cls is drf.UUIDField:
            return "uuid" if field.uuid_format == "hex_verbose" else None
        formats = {drf.DateField: ("date", api_settings.DATE_FORMAT),
                   drf.TimeField: ("time", api_settings.TIME_FORMAT),
                   drf.DateTimeField: ("datetime", api_settings.DATETIME_FORMAT)}
        if cls in formats:
            kind, default = formats[cls]
            output_format = getattr(field, "format", default)
            if not isinstance(output_format, str) or output_format.lower() != ISO_8601:
                return None
            if cls is drf.DateTimeField and hasattr(field, "timezone"):
                return None
            return kind if _output_kind(model_field) == kind else None
        if cls is drf.DurationField:
            output_format = getattr(field, "format", api_settings.DURATION_FORMAT)
            ok = isinstance(output_format, str) and output_format.lower() == DJANGO_DURATION_FORMAT
            return "duration" if ok and isinstance(model_field, models.DurationField) else None
        if cls is drf.JSONField:
            return "json" if not field.binary else None
        if cls is drf.ChoiceField:
            kind = _output_kind(model_field)
            wanted = {"str": str, "int": int}.get(kind)
            if wanted is None or not all(type(key) is wanted for key in field.choices):
                return None
            return kind
        if cls is drf.ModelField:
            if isinstance(model_field, models.BinaryField):
                return "bytes"
            if isinstance(model_field, models.GeneratedField):
                kind = _output_kind(model_field)
                return kind if kind in ("int", "float") else None
        return None

    # -- input ----------------------------------------------------------

    def _compile_input(self, cls):
        entries = []
        self.relations = {}
        self.python_checks = {}
        self.fallback_in = []
        self.sources = {}
        self.unique_queries = {}
        default_zone = timezone.get_default_timezone() if settings.USE_TZ else None
        self.default_zone = default_zone
        for field in self.writable:
            entry = self._entry(field, default_zone)
            name = field.field_name
            if entry is None:
                self.fallback_in.append(name)
                continue
            entries.append(entry)
            self.sources[name] = field.source
            validators = field._kwargs.get("validators", ())
            # A relation's validators get the related object, as DRF gives it.
            checks = list(validators) if name in self.relations else [v for v in validators
                                                                       if not _django_validator(v)]
            if checks:
                self.python_checks[name] = checks
            for check in checks:
                if type(check) is UniqueValidator:
                    model_field = _concrete_field(self.model, field.source)
                    query = None if model_field is None else UniqueQuery(check, model_field)
                    if query is not None and query.usable:
                        self.unique_queries[id(check)] = query
        self.validate_methods = {f.field_name: f"validate_{f.field_name}" for f in self.writable
                                 if hasattr(cls, f"validate_{f.field_name}")}
        self.fallback_in = frozenset(self.fallback_in)
        self.blank_skips_validators = frozenset(f.field_name for f in self.writable if isinstance(f, drf.CharField))
        self.entries = {e["name"]: e for e in entries}
        self.plans_without = {}
        return InputPlan(entries)

    def plan_without(self, failed):
        """The input plan of the fields not in ``failed`` (None if none is
        left), kept for the few sets of failing fields that recur."""
        key = frozenset(failed)
        plan = self.plans_without.get(key)
        if plan is None:
            entries = [e for n, e in self.entries.items() if n not in key]
            if not entries:
                return None
            plan = InputPlan(entries)
            if len(self.plans_without) < _KEPT_PLANS:
                self.plans_without[key] = plan
        return plan

    def _entry(self, field, default_zone):
        # A field's default (declared, or added by DRF to the fields of a
        # unique-together set) is DRF's own code's to apply.
        if _simple_source(field) is None or field.default is not empty:
            return None
        try:
            if _several_columns(self.model._meta.get_field(field.source)):
                return None
        except Exception:  # not a model field: a declared one, or a reverse accessor name
            pass
        cls = type(field)
        entry = {"name": field.field_name, "required": bool(field.required), "allow_null": bool(field.allow_null)}
        if cls is relations.PrimaryKeyRelatedField or cls is relations.ManyRelatedField:
            child = field.child_relation if cls is relations.ManyRelatedField else field
            if type(child) is not relations.PrimaryKeyRelatedField or child.pk_field is not None \
                    or child.queryset is None:
                return None
            key_kind = _input_kind(_target(child.queryset.model._meta.pk))
            if key_kind not in ("integer", "uuid", "string"):
                return None
            entry["kind"] = "many_primary_keys" if cls is relations.ManyRelatedField else "primary_key"
            entry["key_kind"] = key_kind
            if cls is relations.ManyRelatedField:
                entry["allow_empty"] = bool(field.allow_empty)
            many = cls is relations.ManyRelatedField
            self.relations[field.field_name] = (child.queryset, many, None if many else RelatedQuery(child.queryset))
            return entry
        if cls is drf.ChoiceField:
            entry.update(kind="choice", choices=list(field.choices), allow_blank=bool(field.allow_blank))
            return self._with_validators(field, entry)
        if cls in (drf.IntegerField, drf.BigIntegerField, drf.FloatField, drf.DurationField):
            entry["kind"] = {drf.FloatField: "float", drf.DurationField: "duration"}.get(cls, "integer")
            self._bounds(field, entry)
            return self._with_validators(field, entry)
        if cls is drf.DecimalField:
            if field.localize or field.rounding is not None:
                return None
            entry.update(kind="decimal", max_digits=field.max_digits, decimal_places=field.decimal_places)
            self._bounds(field, entry)
            return self._with_validators(field, entry)
        if cls is drf.BooleanField:
            entry["kind"] = "boolean"
            return self._with_validators(field, entry)
        if cls in _TEXT:
            entry.update(kind=_TEXT[cls], allow_blank=bool(field.allow_blank),
                         trim_whitespace=bool(field.trim_whitespace))
            if cls is drf.SlugField:
                entry["allow_unicode"] = bool(field.allow_unicode)
            if field.max_length is not None:
                entry["max_length"] = field.max_length
            if field.min_length is not None:
                entry["min_length"] = field.min_length
            if cls is drf.IPAddressField:
                entry["protocol"] = field.protocol
            return self._with_validators(field, entry)
        if cls is drf.UUIDField:
            entry["kind"] = "uuid"
            return self._with_validators(field, entry)
        formats = {drf.DateField: ("date", api_settings.DATE_INPUT_FORMATS),
                   drf.TimeField: ("time", api_settings.TIME_INPUT_FORMATS),
                   drf.DateTimeField: ("datetime", api_settings.DATETIME_INPUT_FORMATS)}
        if cls in formats:
            kind, default = formats[cls]
            input_formats = getattr(field, "input_formats", default)
            if [str(f).lower() for f in input_formats] != [ISO_8601]:
                return None
            entry["kind"] = kind
            if kind == "datetime":
                entry["default_timezone"] = field.timezone if hasattr(field, "timezone") else default_zone
            return self._with_validators(field, entry)
        if cls is drf.JSONField and not field.binary and field.encoder is None:
            entry["kind"] = "json"
            return self._with_validators(field, entry)
        return None

    @staticmethod
    def _bounds(field, entry):
        if field.max_value is not None:
            entry["max_value"] = field.max_value
        if field.min_value is not None:
            entry["min_value"] = field.min_value

    @staticmethod
    def _with_validators(field, entry):
        plain = [v for v in field._kwargs.get("validators", ()) if _django_validator(v)]
        if plain:
            entry["validators"] = plain
        return entry


# Plans for sets of failing fields kept per serializer class (a client
# choosing which fields fail must not grow memory without bound).
_KEPT_PLANS = 64


def _compiled(cls) -> _Compiled:
    found = cls.__dict__.get("_zembra_compiled")
    if found is None or found.epoch != settings_epoch():
        found = _Compiled(cls)
        cls._zembra_compiled = found
    return found


class ModelSerializer(serializers.ModelSerializer):
    """DRF's ``ModelSerializer`` with native output and input for the fields
    whose kinds the native code knows."""

    def _zembra(self) -> _Compiled:
        return _compiled(type(self))

    @classmethod
    def many_init(cls, *args, **kwargs):
        # DRF's many_init, with this module's ListSerializer as the default.
        list_kwargs = {}
        for key in serializers.LIST_SERIALIZER_KWARGS_REMOVE:
            value = kwargs.pop(key, None)
            if value is not None:
                list_kwargs[key] = value
        list_kwargs["child"] = cls(*args, **kwargs)
        list_kwargs.update({key: value for key, value in kwargs.items() if key in serializers.LIST_SERIALIZER_KWARGS})
        meta = getattr(cls, "Meta", None)
        list_serializer_class = getattr(meta, "list_serializer_class", ListSerializer)
        return list_serializer_class(*args, **list_kwargs)

    # -- output ---------------------------------------------------------

    def _bound_fields(self, names) -> dict[str, Any]:
        """Copies of DRF's fields bound to this serializer (its context), for
        the fields that keep DRF's code."""
        bound = self.__dict__.get("_zembra_bound")
        if bound is None:
            bound = self.__dict__["_zembra_bound"] = {}
        missing = [n for n in names if n not in bound]
        if missing:
            prototypes = self._zembra().prototypes
            for name in missing:
                field = copy.deepcopy(prototypes[name])
                field.bind(name, self)
                bound[name] = field
        return bound

    def _native_output(self, compiled, instance) -> bool:
        if compiled.output is None or not isinstance(instance, compiled.model):
            return False
        return not compiled.needs_utc or _current_zone_is_utc()

    def to_representation(self, instance):
        compiled = self._zembra()
        if not self._native_output(compiled, instance):
            return super().to_representation(instance)
        return compiled.output.dump(instance, self._calls(compiled))

    def _calls(self, compiled, links=False):
        """DRF's code for each field without a native column, bound to this
        serializer (its context, its method fields); with ``links`` (a list:
        worth compiling once) hyperlinked fields build their URLs from the
        compiled pattern."""
        if not compiled.calls:
            return None
        key = "_zembra_list_calls" if links else "_zembra_calls"
        calls = self.__dict__.get(key)
        if calls is None:
            bound = self._bound_fields(compiled.calls)
            calls = self.__dict__[key] = tuple(
                (_link_value(bound[name]) if links else None) or _drf_value(bound[name]) for name in compiled.calls)
        return calls

    # -- input ----------------------------------------------------------

    def to_internal_value(self, data):
        compiled = self._zembra()
        if compiled.input is None or not isinstance(data, Mapping) or html.is_html_input(data) \
                or (compiled.default_zone is not None and timezone.get_current_timezone() is not compiled.default_zone):
            return super().to_internal_value(data)
        partial = bool(getattr(self.root, "partial", False))
        values, errors = parse_input(compiled.input, data, partial=partial)
        if errors is not None:
            if any(name not in compiled.entries for name in errors):
                return super().to_internal_value(data)  # the body as a whole: DRF's answer
            # DRF checks every field: those that parsed get their database and
            # Python checks too, so one answer reports every problem.
            plan = compiled.plan_without(errors)
            values = parse_input(plan, data, partial=True)[0] or {} if plan is not None else {}
        # Errors are the rare path, and their text is DRF's to write (the
        # active language, the field's error_messages, every error of the
        # field in DRF's order): a field refused here is checked again by
        # DRF's own field code, which gives the answer.
        again = set(errors or ())
        problems = {}
        self._python_checks(compiled, values, problems, again)
        out = {}
        drf_fields = compiled.fallback_in.union(again) if again else compiled.fallback_in
        bound = self._bound_fields(drf_fields) if drf_fields else {}
        for field in compiled.writable:
            name = field.field_name
            if name in drf_fields:
                self._fallback_field(bound[name], data, out, problems)
            elif name in values and name not in problems:
                out[compiled.sources[name]] = values[name]
        if problems:
            order = [f.field_name for f in compiled.writable]
            raise ValidationError({name: problems[name] for name in order if name in problems})
        return out

    def _fallback_field(self, field, data, out, problems):
        validate_method = getattr(self, "validate_" + field.field_name, None)
        try:
            value = field.run_validation(field.get_value(data))
            if validate_method is not None:
                value = validate_method(value)
        except ValidationError as exc:
            problems[field.field_name] = exc.detail
        except DjangoValidationError as exc:
            problems[field.field_name] = get_error_detail(exc)
        except SkipField:
            pass
        else:
            self.set_value(out, field.source_attrs, value)

    def _python_checks(self, compiled, values, problems, again):
        """Related objects, validators that need Python, validate_<field>().
        A field whose object or validators fail goes into ``again`` (DRF's
        field code answers for it); validate_<field>()'s own errors are
        kept as DRF keeps them."""
        for name, value in list(values.items()):
            try:
                if name in compiled.relations and value is not None:
                    value = values[name] = _related(compiled.relations[name], value)
                # DRF runs no validator on null, nor on the blank text of a
                # text field.
                if value is not None and not (name in compiled.blank_skips_validators and value == ""):
                    for check in compiled.python_checks.get(name, ()):
                        _run_validator(check, value, name, compiled, self)
            except (_Refused, ValidationError, DjangoValidationError):
                again.add(name)
                continue
            method = compiled.validate_methods.get(name)
            if method is None:
                continue
            try:
                values[name] = getattr(self, method)(value)
            except ValidationError as exc:
                problems[name] = exc.detail
            except DjangoValidationError as exc:
                problems[name] = get_error_detail(exc)

    def run_validators(self, value):
        if self._zembra().serializer_validators or type(self).get_validators is not \
                serializers.ModelSerializer.get_validators:
            super().run_validators(value)

    # -- saving ---------------------------------------------------------

    def create(self, validated_data):
        compiled = self._zembra()
        if compiled.nested_writes:
            return super().create(validated_data)
        model = compiled.model
        many_to_many = {name: validated_data.pop(name) for name in list(validated_data)
                        if name in compiled.many_to_many}
        try:
            instance = compiled.insert.create(validated_data)
            if instance is None:
                instance = model._default_manager.create(**validated_data)
        except TypeError:
            raise TypeError(
                f"Got a `TypeError` when calling `{model.__name__}.{model._default_manager.name}.create()`. "
                f"This may be because you have a writable field on the serializer class that is not a valid "
                f"argument to `{model.__name__}.{model._default_manager.name}.create()`. You may need to make "
                f"the field read-only, or override the {type(self).__name__}.create() method to handle this "
                f"correctly.\nOriginal exception was:\n {traceback.format_exc()}") from None
        for name, value in many_to_many.items():
            getattr(instance, name).set(value)
        return instance

    def update(self, instance, validated_data):
        compiled = self._zembra()
        if compiled.nested_writes:
            return super().update(instance, validated_data)
        many_to_many = []
        for attr, value in validated_data.items():
            if attr in compiled.many_to_many:
                many_to_many.append((attr, value))
            else:
                setattr(instance, attr, value)
        instance.save()
        for attr, value in many_to_many:
            getattr(instance, attr).set(value)
        return instance


class HyperlinkedModelSerializer(ModelSerializer, serializers.HyperlinkedModelSerializer):
    """DRF's ``HyperlinkedModelSerializer`` (relations as hyperlinks, a
    ``url`` field instead of the primary key) on this module's
    ``ModelSerializer``."""


_logger = logging.getLogger("zembra.rest")


def _call_route(field) -> str:
    """What explain() calls a field answered per object by Python code."""
    link = field.child_relation if type(field) is relations.ManyRelatedField else field
    if isinstance(link, relations.HyperlinkedRelatedField):
        return "link"
    return "method" if type(field) is serializers.SerializerMethodField else "DRF"


def explain(serializer) -> str:
    """How a serializer's output is written, one line per field: ``native``
    (and what is read), ``method`` (a SerializerMethodField's method),
    ``link`` (a hyperlink: compiled URLs in lists) or ``DRF`` (DRF's own
    field code), the last three called per object between the native
    fields, and why; then how lists are read (as rows, or as model
    instances) and which input fields take DRF's code.

    ``serializer``: a zembra.rest serializer class or instance (a list
    serializer: its child)."""
    if isinstance(serializer, serializers.ListSerializer):
        serializer = serializer.child
    cls = serializer if isinstance(serializer, type) else type(serializer)
    if not issubclass(cls, ModelSerializer):
        return f"{cls.__name__}: not a zembra.rest ModelSerializer: DRF's code throughout"
    compiled = _compiled(cls)
    lines = [f"{cls.__name__} ({compiled.whole})" if compiled.whole else f"{cls.__name__}"]
    if compiled.output is not None:
        width = max(map(len, compiled.routes), default=0)
        for name, (route, reason) in compiled.routes.items():
            lines.append(f"  {name.ljust(width)}: {route} ({reason})")
        lines.append("  lists of an unevaluated query set: " + (
            "read as rows, no model instances" if compiled.row_ready else "read as model instances"))
    if compiled.input is not None and compiled.fallback_in:
        lines.append("  input by DRF's field code: " + ", ".join(sorted(compiled.fallback_in)))
    return "\n".join(lines)


def _report_fallback(cls, compiled):
    """One log record (logger "zembra.rest", level INFO) per serializer class
    whose output leaves fields to DRF's code, naming them."""
    if not _logger.isEnabledFor(logging.INFO):
        return
    if compiled.whole:
        _logger.info("%s: %s", cls.__qualname__, compiled.whole)
        return
    slow = [name for name, (route, _) in compiled.routes.items() if route != "native"]
    if slow:
        _logger.info("%s: fields written per object by Python code: %s (zembra.rest.explain() says why)",
                     cls.__qualname__, ", ".join(slow))


class _Column(_Field):
    """A readable field of a serializer compiled to a column: read through
    an attribute chain for a dotted source (``fallback``, DRF's own code,
    answers where the chain meets None), from rows too when ``rows``."""

    __slots__ = ("chain", "fallback", "rows", "query_name", "accessor")

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.chain = self.fallback = self.query_name = self.accessor = None
        self.rows = True

    def column(self) -> tuple:
        options = self.options if self.fallback is None else {**self.options, "fallback": self.fallback}
        return (self.name, self.chain or self.attribute, self.kind, options)


# Returned by a field that DRF leaves out of the object's data (SkipField).
_SKIP = object()


def _drf_value(field):
    """What DRF's Serializer.to_representation writes for ``field`` of an
    object: the field's own get_attribute and to_representation, None for
    None, _SKIP where the field is left out."""
    get_attribute, represent = field.get_attribute, field.to_representation
    if type(field) is serializers.SerializerMethodField and field.parent is not None:
        return getattr(field.parent, field.method_name)

    def value(instance):
        try:
            attribute = get_attribute(instance)
        except SkipField:
            return _SKIP
        check = attribute.pk if isinstance(attribute, relations.PKOnlyObject) else attribute
        return None if check is None else represent(attribute)

    return value


_NO_KEY = (None, "")


def _link_value(field):
    """DRF's answer for a hyperlinked field, its URLs built from the
    compiled pattern (zembra._urls), or None where that cannot be proven:
    the identity of the object, a foreign key to a primary key, and lists of
    related objects."""
    cls = type(field)
    many = cls is relations.ManyRelatedField
    link_field = field.child_relation if many else field
    if type(link_field) not in (relations.HyperlinkedRelatedField, relations.HyperlinkedIdentityField):
        return None
    request = field.context.get("request")
    if request is None:
        return None  # DRF's code asserts that there is one
    link = compile_link(link_field, request, field.context.get("format"))
    if link is None:
        return None
    url, lookup, drf_link = link.url, link_field.lookup_field, link_field.to_representation

    def one(obj):
        if obj.pk in _NO_KEY:
            return None
        text = url(getattr(obj, lookup))
        return drf_link(obj) if text is None else hyperlink(text, obj)

    model = field.parent.Meta.model if isinstance(field.parent, ModelSerializer) else None
    if cls is relations.HyperlinkedIdentityField:
        if field.source != "*":
            return None
        if lookup == "pk" and link.ints and model is not None and not model._meta.is_composite_pk:
            # Written natively: an int key's URL, the object as its obj.
            return (link.prefix, link.suffix, relations.Hyperlink, model._meta.pk.attname, one, link.negative_ints)
        return one
    if many:
        if model is None or not field.source or "." in field.source:
            return None
        relation = _relation_named(model, field.source)
        if relation is None or not (relation.many_to_many or relation.one_to_many):
            return None
        accessor = field.source

        def every(instance):
            if instance.pk is None:
                return []
            return [one(obj) for obj in getattr(instance, accessor).all()]

        return every
    # One related object, read as DRF reads it with its primary-key shortcut.
    if lookup != "pk" or model is None or not field.source or "." in field.source:
        return None
    key_field = _concrete_field(model, field.source)
    if key_field is None or not key_field.many_to_one or not key_field.target_field.primary_key:
        return None
    attname = key_field.attname

    def related(instance):
        key = getattr(instance, attname)
        if key in _NO_KEY:
            return None
        text = url(key)
        return drf_link(relations.PKOnlyObject(pk=key)) if text is None else hyperlink(text, relations.PKOnlyObject(key))

    return related


def _key_kind(target) -> str:
    """The column kind of a related key, which DRF writes as it is."""
    kind = _output_kind(target)
    return kind if kind in ("int", "str") else "json"


def _as_is(value):
    return value


def _model_field_value(value):
    """DRF's ModelField.to_representation of the attribute's value."""
    return value if is_protected_type(value) else str(value)


class _Refused(Exception):
    """A value the checks here refuse: DRF's field code runs again on it to
    give DRF's errors."""


def _related(relation, value):
    """The related objects of primary keys, as DRF's PrimaryKeyRelatedField
    finds them (one query for a list); _Refused for a key without one."""
    queryset, many, compiled = relation
    found = compiled.get(value) if compiled is not None else None
    if found is not None:
        if found is False:
            raise _Refused
        return found
    queryset = queryset.all() if isinstance(queryset, (QuerySet, BaseManager)) else queryset
    pk = queryset.model._meta.pk
    if not many:
        if not key_fits(pk, value, queryset.db):
            raise _Refused
        try:
            return queryset.get(pk=value)
        except (ObjectDoesNotExist, TypeError, ValueError):
            raise _Refused from None
    found = queryset.in_bulk([key for key in dict.fromkeys(value) if key_fits(pk, key, queryset.db)])
    if any(key not in found for key in value):
        raise _Refused
    return [found[key] for key in value]


def _run_validator(check, value, name, compiled, serializer):
    """One of the field's validators, raising as it raises (_Refused where
    the compiled uniqueness query finds the value taken)."""
    query = compiled.unique_queries.get(id(check))
    if query is not None and serializer.instance is None and (taken := query.exists(value)) is not None:
        if taken:
            raise _Refused
    elif isinstance(check, UniqueValidator):
        check(value, _FieldContext(compiled.sources[name], serializer))
    elif getattr(check, "requires_context", False):
        check(value, serializer._bound_fields([name])[name])
    else:
        check(value)


def _many_keys_in_drf_order(compiled, queryset) -> bool:
    """Whether one query for every row's to-many keys gives them in the order
    of DRF's query per object: SQLite does; elsewhere only an ordering of
    the related model fixes the order."""
    return all(_order_is_drfs(spec.related_model, queryset.db) for spec in compiled.specs if spec.relation == "many")


def _rows_are_instances(queryset) -> bool:
    """Whether the rows of the query give what DRF reads from the model
    instances: nothing of the model's or the query set's own runs between
    the database and the instances (from_db, __init__, post_init receivers,
    a query set class that changes how objects are fetched)."""
    model, cls = queryset.model, type(queryset)
    return (model.from_db.__func__ is models.Model.from_db.__func__ and model.__init__ is models.Model.__init__
            and not signals.post_init.has_listeners(model)
            and all(getattr(cls, name) is getattr(QuerySet, name) for name in ("__iter__", "_fetch_all", "iterator")))


_UTC_NAMES = {"UTC", "Etc/UTC"}


def _current_zone_is_utc() -> bool:
    """DRF writes datetimes in the current time zone; the native text is UTC's."""
    if not settings.USE_TZ:
        return False
    zone = timezone.get_current_timezone()
    return zone is datetime.timezone.utc or getattr(zone, "key", None) in _UTC_NAMES


class ListSerializer(serializers.ListSerializer):
    """DRF's ``ListSerializer`` whose child writes natively: a query set
    nobody has evaluated is read as rows, without model instances."""

    def to_representation(self, data):
        child = self.child
        if not isinstance(child, ModelSerializer):
            return super().to_representation(data)
        compiled = child._zembra()
        if compiled.output is None or (compiled.needs_utc and not _current_zone_is_utc()):
            return super().to_representation(data)
        iterable = data.all() if isinstance(data, BaseManager) else data
        unread = (isinstance(iterable, QuerySet) and iterable._result_cache is None
                  and iterable._iterable_class is ModelIterable and iterable.model is compiled.model
                  and _rows_are_instances(iterable))
        grouped = None
        if unread:
            iterable, grouped = _without_key_prefetches(compiled, iterable)
            if (compiled.row_ready and not iterable._prefetch_related_lookups and not iterable.query.combinator
                    and _many_keys_in_drf_order(compiled, iterable)):
                return serialize_rows(compiled.output, compiled.model, iterable, compiled.specs, False)
            items = objects(iterable)
            if items is None:
                items = list(iterable)
        else:
            items = list(iterable)
        if not all(type(item) is compiled.model for item in items):
            return [child.to_representation(item) for item in items]
        if unread and compiled.nested_lists and items:
            _prefetch_nested_lists(compiled, iterable, items)
        groups = _group_keys(grouped, items, iterable.db) if grouped else None
        return compiled.output.dump_many(items, child._calls(compiled, links=True), groups=groups)


def _without_key_prefetches(compiled, queryset):
    """The query set without the prefetches that only the native to-many key
    columns read (their keys are read for the whole list by one query, in
    DRF's order), and those columns; (queryset, None) when none is left out."""
    lookups = queryset._prefetch_related_lookups
    many = {spec.accessor: spec for spec in compiled.specs if spec.relation == "many"}
    if not lookups or not many or not _many_keys_in_drf_order(compiled, queryset):
        return queryset, None
    taken = [lookup for lookup in lookups if isinstance(lookup, str) and lookup in many
             and not any(isinstance(other, str) and other.startswith(lookup + "__") for other in lookups)]
    if not taken:
        return queryset, None
    kept = [lookup for lookup in lookups if lookup not in taken]
    return queryset.prefetch_related(None).prefetch_related(*kept), [many[name] for name in taken]


def _prefetch_nested_lists(compiled, queryset, items):
    """Reads the objects of nested list serializers for every item with one
    query per relation (DRF runs one per object), where the prefetch query
    gives DRF's order and the query set does not prefetch them already."""
    taken = {lookup if isinstance(lookup, str) else lookup.prefetch_through
             for lookup in queryset._prefetch_related_lookups}
    names = [name for name in compiled.nested_lists
             if not any(t == name or t.startswith(name + "__") for t in taken)
             and _order_is_drfs(_relation_named(compiled.model, name).related_model, queryset.db)]
    if names:
        prefetch_related_objects(items, *names)


def _order_is_drfs(related_model, using) -> bool:
    """Whether one query for the related objects of many rows gives each
    row's objects in the order of DRF's query per row."""
    return connections[using].vendor == "sqlite" or bool(related_model._meta.ordering)


def _group_keys(specs, items, using):
    """The keys of each to-many spec for every item, by one query each."""
    pks = [item.pk for item in items]
    return {spec.name: _many_keys(spec, pks, using) for spec in specs}


def __getattr__(name):
    # The view classes are made on first use: importing DRF's views here
    # would load them before a project (or a test set-up) has chosen its
    # renderers, which DRF's views read when their module is imported.
    if name not in _VIEWS:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    with _VIEWS_MADE:
        if name in globals():
            return globals()[name]
        return _make_views(name)


def _make_views(name):
    from rest_framework import viewsets

    from zembra._views import CompiledLookupMixin

    made = {
        "CompiledLookupMixin": CompiledLookupMixin,
        "ModelViewSet": type("ModelViewSet", (CompiledLookupMixin, viewsets.ModelViewSet), {
            "__module__": __name__, "__doc__": "DRF's ``ModelViewSet`` whose ``get_object()`` runs SQL compiled "
                                               "once for the plain case (see ``CompiledLookupMixin``)."}),
        "ReadOnlyModelViewSet": type("ReadOnlyModelViewSet", (CompiledLookupMixin, viewsets.ReadOnlyModelViewSet), {
            "__module__": __name__, "__doc__": "DRF's ``ReadOnlyModelViewSet`` with ``CompiledLookupMixin``."}),
    }
    globals().update(made)
    return made[name]


_VIEWS = ("CompiledLookupMixin", "ModelViewSet", "ReadOnlyModelViewSet")
_VIEWS_MADE = threading.Lock()


class JSONRenderer(renderers.JSONRenderer):
    """DRF's ``JSONRenderer`` writing natively what ``json.dumps`` would
    write with DRF's default settings; anything else (indentation, ASCII
    output, values only DRF's encoder knows) takes DRF's own path."""

    def render(self, data, accepted_media_type=None, renderer_context=None):
        if data is None:
            return b""
        if (self.ensure_ascii or not self.compact or not self.strict
                or self.get_indent(accepted_media_type or "", renderer_context or {}) is not None):
            return super().render(data, accepted_media_type, renderer_context)
        try:
            text = encode_json_plain(data)
        except (TypeError, ValueError):
            return super().render(data, accepted_media_type, renderer_context)
        # DRF escapes U+2028 and U+2029 for JavaScript.
        if b"\xe2\x80\xa8" in text or b"\xe2\x80\xa9" in text:
            text = text.replace(b"\xe2\x80\xa8", b"\\u2028").replace(b"\xe2\x80\xa9", b"\\u2029")
        return text


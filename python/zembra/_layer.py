"""The model layer: a model's fields with Django's full knowledge of them,
for output (dicts, JSON bytes, query sets) and for request input.

``ModelResource(Model)`` reads ``Model._meta`` once and follows the rules of
DRF's ``ModelSerializer`` for the same model: which fields are included and
read-only, how relations are written (their key values), what input each
field accepts and when it is required. Per-value work is native: output
through a ``zembra._speedups.ColumnLayout``, input through the native input
parser. Only what needs the database (related objects' existence,
uniqueness, many-to-many keys that were not prefetched) runs in Python.
"""

from __future__ import annotations

import codecs
import decimal
import io
from collections.abc import Iterable, Mapping
from typing import Any

from asgiref.sync import sync_to_async
from django.core import validators as dj_validators
from django.core.exceptions import FieldDoesNotExist, ImproperlyConfigured, ObjectDoesNotExist, ValidationError
from django.core.signals import setting_changed
from django.db import connections, models
from django.db.models.query import QuerySet
from django.utils import timezone

from zembra._compiled_queries import _NO_ROUTE, RelatedQuery, UniqueQuery, _plain_manager
from zembra._row_readers import NO_ROWS, compiled_rows_query, plan_for, remember
from zembra._speedups import ColumnLayout, InputPlan, parse_input

__all__ = ["ModelResource", "key_fits", "query_rows", "serialize_rows", "settings_epoch"]

# The settings compiled state is made from (formats, coercions, time zones):
# a change of one (override_settings, setting_changed) makes every compiled
# serializer and input plan compile again on its next use.
_COMPILED_FROM = frozenset({"REST_FRAMEWORK", "USE_TZ", "TIME_ZONE"})
_epoch = 0


def settings_epoch() -> int:
    """How many times the settings compiled state is made from have changed."""
    return _epoch


def _settings_changed(*, setting, **kwargs):
    global _epoch
    if setting in _COMPILED_FROM:
        _epoch += 1


setting_changed.connect(_settings_changed, dispatch_uid="zembra-compiled-settings")

ALL_FIELDS = "__all__"
_NUMERIC = (models.IntegerField, models.FloatField, models.DecimalField, models.DurationField)
_IP_VALIDATORS = (dj_validators.validate_ipv46_address, dj_validators.validate_ipv4_address,
                  dj_validators.validate_ipv6_address)


# In order: a subclass comes before its base (AutoField is not an IntegerField).
_KINDS_BY_CLASS = (
    (models.BooleanField, "bool"), (models.DecimalField, "decimal"), (models.FloatField, "float"),
    ((models.IntegerField, models.AutoField), "int"), (models.DurationField, "duration"),
    (models.DateTimeField, "datetime"), (models.DateField, "date"), (models.TimeField, "time"),
    (models.UUIDField, "uuid"), (models.JSONField, "json"), (models.BinaryField, "bytes"),
    (models.FileField, "file"),
    ((models.CharField, models.TextField, models.GenericIPAddressField, models.FilePathField), "str"),
)


def _output_kind(field: models.Field) -> str:
    """The column kind of a concrete, non-relation model field."""
    if isinstance(field, models.GeneratedField):
        return _output_kind(field.output_field)
    for classes, kind in _KINDS_BY_CLASS:
        if isinstance(field, classes):
            return kind
    by_type = {"AutoField": "int", "BigAutoField": "int", "SmallAutoField": "int", "IntegerField": "int",
               "BigIntegerField": "int", "SmallIntegerField": "int", "PositiveIntegerField": "int",
               "PositiveBigIntegerField": "int", "PositiveSmallIntegerField": "int", "CharField": "str",
               "TextField": "str"}
    kind = by_type.get(field.get_internal_type())
    if kind is None:
        raise ImproperlyConfigured(
            f"{field.model.__name__}.{field.name}: {type(field).__name__} is not supported by ModelResource; "
            f"leave it out with exclude=[{field.name!r}]")
    return kind


def _input_kind(field: models.Field) -> str | None:
    """The input parser's kind of a model field; None when it takes no JSON input."""
    kind = _output_kind(field)
    if isinstance(field, models.EmailField):
        return "email"
    if isinstance(field, models.URLField):
        return "url"
    if isinstance(field, models.SlugField):
        return "slug"
    if isinstance(field, models.GenericIPAddressField):
        return "ip"
    return {"bool": "boolean", "decimal": "decimal", "float": "float", "int": "integer",
            "duration": "duration", "datetime": "datetime", "date": "date", "time": "time",
            "uuid": "uuid", "json": "json", "str": "string"}.get(kind)


# The parser reads a related key as the target field's lookup prepares it
# for these kinds only; keys of any other target (a DateTimeField primary
# key, say) are taken as any JSON value and looked up as DRF looks them up.
_KEY_KINDS = {"integer": "integer", "string": "string", "email": "string", "url": "string", "slug": "string",
              "ip": "string", "uuid": "uuid"}


def _target(field: models.Field) -> models.Field:
    """The concrete field a relation's value refers to (through chains of
    one-to-one keys that are primary keys)."""
    while field.is_relation and not field.many_to_many:
        field = field.target_field
    return field


# DRF's BooleanField words (compared lower-cased), for attributes assigned a
# value that is not a bool.
_TRUE_WORDS = frozenset({"t", "y", "yes", "true", "on", "1", 1})
_FALSE_WORDS = frozenset({"f", "n", "no", "false", "off", "0", 0})
_NULL_WORDS = frozenset({"", "null", None})


def _represent(kind: str, field: models.Field):
    """How a value that is not of the kind's own type is written (an
    attribute assigned but not yet reloaded), as DRF's field of that kind
    writes it; NotImplemented leaves the value to the kind's own conversion
    (which raises for what it cannot convert)."""
    if kind == "bool":
        allow_null = field.null

        def boolean(value):
            word = value.lower() if isinstance(value, str) else value
            try:
                if word in _TRUE_WORDS:
                    return True
                if word in _FALSE_WORDS:
                    return False
                if word in _NULL_WORDS and allow_null:
                    return None
            except TypeError:  # unhashable
                pass
            return bool(value)

        return boolean
    if kind in ("int", "float") and isinstance(field, models.GeneratedField):
        return _generated_value
    if kind in ("date", "time", "datetime"):
        return _text_as_given
    if kind == "uuid":
        return str
    if kind == "decimal":
        places, digits = field.decimal_places, field.max_digits

        def number(value):
            if not isinstance(value, decimal.Decimal):
                value = decimal.Decimal(str(value).strip())
            context = decimal.getcontext().copy()
            context.prec = digits
            return f"{value.quantize(decimal.Decimal('.1') ** places, context=context):f}"

        return number
    return None


def _generated_value(value):
    """DRF's ModelField gives a generated field's value as it is (1.5 in an
    integer column stays 1.5), other objects as text."""
    return value if isinstance(value, (int, float, decimal.Decimal)) else str(value)


def _text_as_given(value):
    if isinstance(value, str):
        return value or None
    return NotImplemented


class _Field:
    """One field of a resource: how it is written, read and checked."""

    __slots__ = ("name", "model_field", "attribute", "kind", "options", "read_only", "relation",
                 "to_field", "related_model", "plan", "any_key", "unique_conditions")

    def __init__(self, name, model_field, attribute, kind, options, read_only, relation=None,
                 related_model=None, to_field=None):
        self.name = name
        self.model_field = model_field
        self.attribute = attribute
        self.kind = kind
        self.options = options
        self.read_only = read_only
        self.relation = relation  # None, "one" or "many"
        self.related_model = related_model
        self.to_field = to_field  # the related field a one-relation refers to
        self.plan: dict[str, Any] | None = None
        self.any_key = False  # keys the parser cannot read: looked up in Python
        self.unique_conditions: list = []  # one per uniqueness rule; None for unique=True

    def column(self) -> tuple:
        return (self.name, self.attribute, self.kind, self.options)


def _default_names(model) -> list[str]:
    """DRF's default field names: the primary key, the concrete fields and
    the forward relations, in declaration order."""
    opts = model._meta.concrete_model._meta
    pk = opts.pk
    while pk.remote_field and pk.remote_field.parent_link:
        pk = pk.remote_field.model._meta.pk
    names = [pk.name]
    names += [f.name for f in opts.fields if f.serialize and not f.remote_field]
    names += [f.name for f in opts.fields if f.serialize and f.remote_field]
    names += [f.name for f in opts.many_to_many if f.serialize]
    return list(dict.fromkeys(names))


def _model_field(model, name: str):
    opts = model._meta.concrete_model._meta
    if name == "pk":
        return opts.pk
    try:
        field = opts.get_field(name)
    except Exception:
        return None
    if field.auto_created and not field.concrete:  # reverse relations
        return None
    return field


def _is_reverse_relation(model, name: str) -> bool:
    try:
        field = model._meta.concrete_model._meta.get_field(name)
    except FieldDoesNotExist:
        return False
    return field.auto_created and not field.concrete


def _unknown(model, names, option: str) -> ImproperlyConfigured:
    known = ", ".join(_default_names(model))
    reverse = [n for n in names if _is_reverse_relation(model, n)]
    if reverse:
        listed = ", ".join(repr(n) for n in reverse)
        return ImproperlyConfigured(
            f"{model.__name__}: {listed} (in {option}=) "
            f"{'is a reverse relation' if len(reverse) == 1 else 'are reverse relations'}, which ModelResource "
            f"does not support (only the model's own fields and forward relations); its fields are: {known}")
    listed = ", ".join(repr(n) for n in names)
    return ImproperlyConfigured(
        f"{model.__name__} has no field {listed} (in {option}=); its fields are: {known}")


def _unique_conditions(field: models.Field) -> list:
    """The rows each of DRF's UniqueValidators for a field looks among: None
    for ``unique=True`` (all rows), the condition of each single-field
    ``UniqueConstraint`` that refers to no other field. A rule that involves
    other fields is the serializer's (as ``unique_together``), not the field's."""
    conditions = {c.condition for c in field.model._meta.constraints
                  if isinstance(c, models.UniqueConstraint) and set(c.fields) == {field.name}}
    if getattr(field, "unique", False):
        conditions.add(None)
    return [c for c in conditions if c is None or set(c.referenced_base_fields) <= {field.name}]


def _choices(field: models.Field) -> list:
    return [value for value, _label in field.flatchoices]


class ModelResource:
    """A model's fields compiled once for JSON output and request input.

    ``fields`` (a list of names or ``"__all__"``), ``exclude`` and
    ``read_only`` have the meaning of DRF's ``Meta.fields``, ``Meta.exclude``
    and ``Meta.read_only_fields``; a name the model does not have raises
    ``ImproperlyConfigured``. Foreign keys and one-to-one fields are written as
    their key value under the field name; many-to-many fields as a list of
    keys, read from ``prefetch_related()`` caches: without one, reading them
    would cost a query per instance, which raises ``ValueError`` naming the
    field unless ``allow_m2m_queries=True``.
    """

    def __init__(self, model, *, fields: Iterable[str] | str | None = None, exclude: Iterable[str] | None = None,
                 read_only: Iterable[str] = (), allow_m2m_queries: bool = False) -> None:
        if not (isinstance(model, type) and issubclass(model, models.Model)) or model._meta.abstract:
            raise TypeError(f"ModelResource takes a concrete Django model class, not {model!r}")
        if fields is not None and exclude is not None:
            raise ImproperlyConfigured("ModelResource takes fields= or exclude=, not both")
        if isinstance(fields, str) and fields != ALL_FIELDS:
            raise ImproperlyConfigured(f'fields= must be a list of names or "{ALL_FIELDS}", not {fields!r}')
        self.model = model
        self.allow_m2m_queries = allow_m2m_queries
        if fields is None or fields == ALL_FIELDS:
            names = _default_names(model)
        else:
            names = list(fields)
            missing = [n for n in names if _model_field(model, n) is None]
            if missing:
                raise _unknown(model, missing, "fields")
        if exclude is not None:
            exclude = list(exclude)
            missing = [n for n in exclude if n not in names]
            if missing:
                raise _unknown(model, missing, "exclude")
            names = [n for n in names if n not in exclude]
        read_only = list(read_only)
        missing = [n for n in read_only if _model_field(model, n) is None]
        if missing:
            raise _unknown(model, missing, "read_only")

        self.fields: tuple[_Field, ...] = tuple(
            self._compile(name, _model_field(model, name), name in read_only) for name in names)
        self._by_name = {f.name: f for f in self.fields}
        self.layout = ColumnLayout([f.column() for f in self.fields], self._missing_keys)
        self._plans: dict[tuple[bool, int], Any] = {}
        self._queries: dict[tuple, Any] = {}
        for spec in self.fields:
            if not spec.read_only and spec.relation != "many":
                spec.unique_conditions = _unique_conditions(spec.model_field)
        self._unique = [f for f in self.fields if f.unique_conditions]

    def __repr__(self) -> str:
        return f"ModelResource({self.model.__name__}, {len(self.fields)} fields)"

    # -- compiling ------------------------------------------------------

    def _compile(self, name: str, field: models.Field, listed_read_only: bool) -> _Field:
        if field.many_to_many:
            target = _target(field.target_field)
            through_auto = field.remote_field.through._meta.auto_created
            spec = _Field(name, field, name, "many",
                          {"cache": field.name, "item_attribute": target.attname, "item_kind": _output_kind(target)},
                          listed_read_only or not field.editable or not through_auto, relation="many",
                          related_model=field.related_model, to_field=target)
        elif field.is_relation:
            if len(getattr(field, "to_fields", ())) > 1:
                raise ImproperlyConfigured(
                    f"{self.model.__name__}.{field.name}: a relation over several columns is not supported by "
                    f"ModelResource; leave it out with exclude=[{field.name!r}]")
            target = _target(field)
            options = {"decimal_places": target.decimal_places} if isinstance(target, models.DecimalField) else None
            spec = _Field(name, field, field.attname, _output_kind(target), options,
                          listed_read_only or not field.editable, relation="one",
                          related_model=field.related_model, to_field=field.target_field)
        else:
            kind = _output_kind(field)
            options = {"decimal_places": field.decimal_places} if kind == "decimal" else {}
            represent = _represent(kind, field)
            if represent is not None:
                options["represent"] = represent
                # The native decimal holds 28 digits (96 bits): wider columns are quantized in Python.
                options["represent_all"] = kind == "decimal" and field.max_digits > 28
            read_only = (listed_read_only or isinstance(field, models.AutoField) or not field.editable
                         or isinstance(field, models.GeneratedField))
            spec = _Field(name, field, field.attname, kind, options, read_only)
        if not spec.read_only:
            spec.plan = self._plan_entry(spec)
            if spec.plan is None:
                spec.read_only = True  # file fields: uploads do not come as JSON
        return spec

    def _plan_entry(self, spec: _Field) -> dict[str, Any] | None:
        field = spec.model_field
        entry: dict[str, Any] = {
            "name": spec.name,
            "required": not (field.has_default() or field.blank or field.null),
            "allow_null": bool(field.null),
        }
        if spec.relation is not None:
            key_kind = _KEY_KINDS.get(_input_kind(_target(spec.to_field)))
            if key_kind is None:
                spec.any_key = True
                entry["kind"] = "json"
                return entry
            entry["kind"] = "many_primary_keys" if spec.relation == "many" else "primary_key"
            entry["key_kind"] = key_kind
            if spec.relation == "many":
                entry["allow_empty"] = bool(field.blank)
            return entry
        kind = _input_kind(field)
        if kind is None:
            return None
        validators = list(field.validators)
        entry["kind"] = kind
        if isinstance(field, (models.CharField, models.TextField)):
            entry["allow_blank"] = bool(field.blank)
        if isinstance(field, models.SlugField):
            entry["allow_unicode"] = bool(field.allow_unicode)
        if field.choices:
            entry["kind"] = "choice"
            entry["choices"] = _choices(field)
        else:
            validators = self._absorb(field, kind, validators, entry)
        if isinstance(field, (models.CharField, models.TextField)) and field.max_length is not None:
            entry["max_length"] = field.max_length
            validators = [v for v in validators if not isinstance(v, dj_validators.MaxLengthValidator)]
        if isinstance(field, models.CharField):
            found = [v.limit_value for v in validators if isinstance(v, dj_validators.MinLengthValidator)]
            if found:
                entry["min_length"] = found[0]
                validators = [v for v in validators if not isinstance(v, dj_validators.MinLengthValidator)]
        # The parser refuses null characters in text itself.
        validators = [v for v in validators if not isinstance(v, dj_validators.ProhibitNullCharactersValidator)]
        if isinstance(field, models.DecimalField):
            entry["max_digits"] = field.max_digits
            entry["decimal_places"] = field.decimal_places
        if validators:
            entry["validators"] = validators
        return entry

    @staticmethod
    def _absorb(field, kind, validators, entry):
        """The validators the parser's own options stand for, taken out of
        the list as DRF takes them (bounds of numeric fields, the kind's own
        format check)."""
        if isinstance(field, _NUMERIC):
            for cls, key in ((dj_validators.MaxValueValidator, "max_value"),
                             (dj_validators.MinValueValidator, "min_value")):
                found = [v.limit_value for v in validators if isinstance(v, cls)]
                if found:
                    entry[key] = found[0]
                    validators = [v for v in validators if not isinstance(v, cls)]
        if kind == "url":
            validators = [v for v in validators if not isinstance(v, dj_validators.URLValidator)]
        elif kind == "email":
            validators = [v for v in validators if v is not dj_validators.validate_email]
        elif kind == "slug":
            validators = [v for v in validators if v is not dj_validators.validate_slug]
        elif kind == "ip":
            entry["protocol"] = field.protocol
            validators = [v for v in validators if v not in _IP_VALIDATORS]
        elif kind == "decimal":
            validators = [v for v in validators if not isinstance(v, dj_validators.DecimalValidator)]
        return validators

    # -- output ---------------------------------------------------------

    def _missing_keys(self, instance, key):
        """The keys of a to-many field whose objects were not prefetched."""
        if isinstance(instance, dict):
            # A row of values() has one related key per row, not the list.
            raise TypeError(
                f"{self!r}: field {key!r} is a to-many relation, whose keys a dict (a values() row) does not "
                f"hold: pass model instances with .prefetch_related({key!r}), use serialize_queryset() for a "
                f"query set, or leave the field out")
        if getattr(instance, "pk", None) is None:
            return []
        if not self.allow_m2m_queries:
            raise ValueError(
                f"{self!r}: field {key!r} was not prefetched; reading it would cost a query per "
                f"{self.model.__name__}: use .prefetch_related({key!r}), or ModelResource(..., "
                f"allow_m2m_queries=True)")
        spec = self._by_name[key]
        return list(getattr(instance, spec.model_field.name).values_list(spec.to_field.attname, flat=True))

    def dump(self, instance) -> dict[str, Any]:
        """One instance as a JSON-ready dict (keys in field order)."""
        return self.layout.dump(instance)

    def dump_many(self, instances) -> list[dict[str, Any]]:
        """A list (or any iterable) of instances as JSON-ready dicts."""
        return self.layout.dump_many(instances)

    def dump_json(self, instance) -> bytes:
        """``encode_json(dump(instance))``, written directly."""
        return self.layout.dump_json(instance)

    def dump_many_json(self, instances) -> bytes:
        """``encode_json(dump_many(instances))``, written directly."""
        return self.layout.dump_many_json(instances)

    def serialize_queryset(self, queryset: QuerySet) -> list[dict[str, Any]]:
        """The query set's objects as JSON-ready dicts, read as rows without
        building model instances."""
        return serialize_rows(self.layout, self.model, queryset, self.fields, False)

    def serialize_queryset_json(self, queryset: QuerySet) -> bytes:
        """``encode_json(serialize_queryset(queryset))``, written directly."""
        return serialize_rows(self.layout, self.model, queryset, self.fields, True)

    async def aserialize_queryset(self, queryset: QuerySet) -> list[dict[str, Any]]:
        """``serialize_queryset`` for ``async def`` views: the query runs in
        Django's thread for database work (``sync_to_async``)."""
        return await sync_to_async(self.serialize_queryset)(queryset)

    async def aserialize_queryset_json(self, queryset: QuerySet) -> bytes:
        """``serialize_queryset_json`` for ``async def`` views."""
        return await sync_to_async(self.serialize_queryset_json)(queryset)

    # -- input ----------------------------------------------------------

    def _plan(self, reject: bool):
        key = (reject, settings_epoch())
        plan = self._plans.get(key)
        if plan is None:
            entries = self._entries([f for f in self.fields if f.plan is not None])
            if reject:
                # Read-only fields are known names: accepted and ignored.
                entries += [{"name": f.name, "kind": "json", "required": False, "allow_null": True}
                            for f in self.fields if f.plan is None]
            self._plans = {kept: found for kept, found in self._plans.items() if kept[1] == key[1]}
            plan = self._plans[key] = InputPlan(entries)
        return plan

    @staticmethod
    def _entries(specs) -> list[dict[str, Any]]:
        """The plan entries of the fields, with the time zone naive datetimes
        are read in as the settings now in force say."""
        zone = timezone.get_default_timezone() if _use_tz() else None
        return [{**f.plan, "default_timezone": zone} if isinstance(f.model_field, models.DateTimeField) else f.plan
                for f in specs]

    def load(self, body, *, partial: bool = False, instance=None, unknown: str = "ignore",
             encoding: str | None = None):
        """Request input (JSON bytes or str, a parsed dict, or the request
        itself) checked by the model's rules. Returns ``(values, None)``,
        the values ready for ``Model(**values)`` or ``setattr`` (related objects as instances,
        many-to-many fields as lists of instances), or ``(None, report)``,
        a report in the shape of ``zembra_core.validate``'s. Read-only fields
        are ignored; ``partial=True`` requires nothing (updates);
        ``unknown="reject"`` reports keys that are not fields; ``instance``
        is the object being updated (left out of uniqueness checks). Bytes
        are read in ``encoding``; a request's body in the charset of its
        ``Content-Type`` (``request.encoding``), else ``DEFAULT_CHARSET``, as
        DRF's JSONParser reads it."""
        values, errors = self.load_errors(body, partial=partial, instance=instance, unknown=unknown,
                                          encoding=encoding)
        if errors is None:
            return values, None
        return None, self.report(errors)

    def load_errors(self, body, *, partial: bool = False, instance=None, unknown: str = "ignore",
                    encoding: str | None = None):
        """``load`` with the errors as DRF gives them: ``{name: [(message,
        code), ...]}`` (``"non_field_errors"`` for the body as a whole)."""
        body, problem = _decoded(body, encoding)
        if problem is not None:
            return None, {"non_field_errors": [problem]}
        values, errors = parse_input(self._plan(unknown == "reject"), body, partial=partial, unknown=unknown)
        if errors is not None:
            if not _unread(errors):
                # As DRF does, the fields that did parse still get their
                # database checks, so one answer reports every problem.
                checked = [f for f in self._database_checked if f.name not in errors]
                if checked:
                    more, _ = parse_input(InputPlan(self._entries(checked)), body, partial=True)
                    errors.update(self._database_checks(more or {}, instance))
                errors = {name: errors[name] for name in self._error_order(errors)}
            return None, errors
        errors = self._database_checks(values, instance)
        if errors:
            return None, {name: errors[name] for name in self._error_order(errors)}
        if unknown == "reject":
            for spec in self.fields:
                if spec.plan is None:
                    values.pop(spec.name, None)
        return values, None

    @property
    def _database_checked(self) -> list[_Field]:
        return [f for f in self.fields if f.plan is not None and (f.relation is not None or f in self._unique)]

    def _error_order(self, errors) -> list[str]:
        return [f.name for f in self.fields if f.name in errors] + [n for n in errors if n not in self._by_name]

    def _database_checks(self, values: dict, instance) -> dict[str, list]:
        """Relation keys replaced by their objects (reporting missing ones)
        and uniqueness, for the fields in values."""
        errors = {}
        for spec in self.fields:
            if spec.any_key and spec.relation == "one" and spec.name in values and values[spec.name] == "":
                # DRF's relation fields take an empty text for null.
                if not spec.plan["allow_null"]:
                    errors[spec.name] = [("This field may not be null.", "null")]
                    continue
                values[spec.name] = None
            if spec.relation is not None and values.get(spec.name) is not None:
                problems = self._resolve_any(spec, values) if spec.any_key else self._resolve(spec, values)
                if problems:
                    errors[spec.name] = problems if isinstance(problems, list) else [problems]
        for spec in self._unique:
            if values.get(spec.name) is not None and spec.name not in errors:
                problems = self._unique_problems(spec, values[spec.name], instance)
                if problems:
                    errors[spec.name] = problems
        return errors

    def _resolve(self, spec: _Field, values: dict) -> tuple[str, str] | None:
        """Replaces the keys of a relation by the related objects."""
        related = spec.related_model._default_manager.all()
        limit = spec.model_field.get_limit_choices_to()
        if limit:
            related = related.filter(limit if isinstance(limit, models.Q) else models.Q(**limit))
        lookup = spec.to_field.attname if spec.relation == "one" else "pk"
        if spec.relation == "one" and spec.to_field.primary_key:
            lookup = "pk"
        if spec.relation == "one":
            key = values[spec.name]
            if not key_fits(spec.to_field, key, related.db):
                return _missing_object(spec, key)
            if lookup == "pk" and not limit:
                found = self._query(spec, RelatedQuery, related.model._default_manager).get(key)
                if found is False:
                    return _missing_object(spec, key)
                if found is not None:
                    values[spec.name] = found
                    return None
            try:
                values[spec.name] = related.get(**{lookup: key})
            except spec.related_model.DoesNotExist:
                return _missing_object(spec, key)
            except (TypeError, ValueError, ValidationError):
                return (f"Incorrect type. Expected pk value, received {type(key).__name__}.", "incorrect_type")
            return None
        keys = values[spec.name]
        try:
            found = related.in_bulk([k for k in dict.fromkeys(keys) if key_fits(spec.to_field, k, related.db)],
                                    field_name=lookup)
        except (TypeError, ValueError, ValidationError):
            return ("Incorrect type. Expected pk value, received list.", "incorrect_type")
        for key in keys:
            if key not in found:
                return _missing_object(spec, key)
        values[spec.name] = [found[key] for key in keys]
        return None

    def _resolve_any(self, spec: _Field, values: dict) -> list[tuple[str, str]] | None:
        """Replaces keys the parser took as any JSON value by the related
        objects, one lookup per key as DRF's relation fields make it."""
        related = spec.related_model._default_manager.all()
        limit = spec.model_field.get_limit_choices_to()
        if limit:
            related = related.filter(limit if isinstance(limit, models.Q) else models.Q(**limit))
        data = values[spec.name]
        if spec.relation == "one":
            found, problems = _lookup(spec, related, data, by_pk=spec.to_field.primary_key)
            if problems:
                return problems
            values[spec.name] = found
            return None
        if isinstance(data, str) or not hasattr(data, "__iter__"):
            return [(f'Expected a list of items but got type "{type(data).__name__}".', "not_a_list")]
        if not spec.model_field.blank and len(data) == 0:
            return [("This list may not be empty.", "empty")]
        objects = []
        for key in data:
            found, problems = _lookup(spec, related, key, by_pk=True)
            if problems:
                return problems
            objects.append(found)
        values[spec.name] = objects
        return None

    def _unique_problems(self, spec: _Field, value, instance) -> list[tuple[str, str]]:
        """One error per uniqueness rule the value breaks, as DRF's
        UniqueValidators report them. The rows are those of the model that
        declares the field: a parent's unique field is unique among the
        parent's rows, children or not, and its message names the parent."""
        field = spec.model_field
        manager = field.model._default_manager
        updating = instance is not None and instance.pk is not None
        problems = []
        for condition in spec.unique_conditions:
            taken = None
            if condition is None and not updating:
                taken = self._query(spec, UniqueQuery, _ExactLookup(manager), field).exists(value)
            if taken is None:
                others = manager.all() if condition is None else manager.filter(condition)
                others = others.filter(**{f"{field.name}__exact": value})
                if updating:
                    others = others.exclude(pk=instance.pk)
                taken = others.exists()
            if taken:
                message = field.error_messages["unique"] % {"model_name": field.model._meta.verbose_name,
                                                             "field_label": field.verbose_name}
                problems.append((message, "unique"))
        return problems

    def _query(self, spec: _Field, kind, *args):
        """The compiled query of one kind for a field, made on first use."""
        key = (spec.name, kind)
        query = self._queries.get(key)
        if query is None:
            query = self._queries[key] = kind(*args)
        return query

    def report(self, errors: Mapping[str, list]) -> dict[str, Any]:
        """Errors as ``{name: [(message, code), ...]}`` in the report shape
        of ``zembra_core.validate``: ``params`` hold the limits the messages
        name, as text; a body that was not read counts no field as valid."""
        entries = [{"field": name, "message": str(message), "code": code, "params": self._params(name, code)}
                   for name, problems in errors.items() for message, code in problems]
        writable = sum(1 for f in self.fields if not f.read_only)
        failed = sum(1 for name in errors if name in self._by_name)
        valid = 0 if _unread(errors) else max(writable - failed, 0)
        return {"valid_count": valid, "error_count": len(entries), "is_valid": False, "errors": entries}

    def _params(self, name: str, code: str) -> dict[str, str]:
        """The limit a DRF message of this code names (under the message's
        own placeholder), read from the field's input rules."""
        spec = self._by_name.get(name)
        plan = spec.plan if spec is not None else None
        if not plan:
            return {}
        if code in ("max_length", "min_length", "max_value", "min_value", "max_digits") and code in plan:
            return {code: str(plan[code])}
        if code == "max_decimal_places" and "decimal_places" in plan:
            return {code: str(plan["decimal_places"])}
        if code == "max_whole_digits" and "max_digits" in plan:
            return {code: str(plan["max_digits"] - plan["decimal_places"])}
        return {}

    async def aload(self, body, **options):
        """``load`` for ``async def`` views (its related-object and
        uniqueness queries run in Django's thread for database work)."""
        return await sync_to_async(self.load)(body, **options)

    async def aload_errors(self, body, **options):
        """``load_errors`` for ``async def`` views."""
        return await sync_to_async(self.load_errors)(body, **options)

    async def asave(self, values: dict[str, Any], instance=None):
        """``save`` for ``async def`` views (the whole save, to-many fields
        included, in Django's thread for database work)."""
        return await sync_to_async(self.save)(values, instance)

    async def aload_and_save(self, body, *, instance=None, **options):
        """``load`` and, when the body is valid, ``save``, in ONE call in
        Django's thread for database work: ``(saved instance, None)`` or
        ``(None, report)``. Under ASGI every ``sync_to_async`` call is a trip
        to that thread and back: ``aload`` then ``asave`` make two."""
        return await sync_to_async(self._load_and_save)(body, instance, options)

    def _load_and_save(self, body, instance, options):
        values, report = self.load(body, instance=instance, **options)
        if report is not None:
            return None, report
        return self.save(values, instance), None

    def save(self, values: dict[str, Any], instance=None):
        """Creates an instance from ``load``'s values, or updates ``instance``
        with them; many-to-many fields are set once the row exists, and
        their objects are left prefetched, so ``dump(save(values))`` works."""
        plain = {}
        many = {}
        for name, value in values.items():
            spec = self._by_name.get(name)
            (many if spec is not None and spec.relation == "many" else plain)[name] = value
        if instance is None:
            instance = self.model._default_manager.create(**plain)
        else:
            for name, value in plain.items():
                setattr(instance, name, value)
            instance.save()
        for name, value in many.items():
            getattr(instance, name).set(value)
        # Writing the instance next must not cost a query per to-many field
        # and call: their objects are fetched once now, as prefetch_related does.
        cache = getattr(instance, "_prefetched_objects_cache", {})
        stale = [f.model_field.name for f in self.fields if f.relation == "many" and f.model_field.name not in cache]
        if stale:
            models.prefetch_related_objects([instance], *stale)
        return instance


def check_queryset(model, queryset) -> None:
    """Refuses what the row route cannot serialize as the model's objects."""
    if not isinstance(queryset, QuerySet):
        raise TypeError(f"expected a QuerySet of {model.__name__}, got {type(queryset).__name__}")
    if queryset.model._meta.concrete_model is not model._meta.concrete_model:
        raise TypeError(f"a QuerySet of {queryset.model.__name__} given for {model.__name__}")
    if queryset._iterable_class is not models.query.ModelIterable:
        raise TypeError("a values() or values_list() query set cannot be serialized; pass the model's own")


def query_rows(model, queryset: QuerySet, specs) -> list[tuple]:
    """The query set's rows, one value per spec in order, without building
    model instances: plain columns through ``values_list()``, the keys of
    each to-many spec by one query for all rows (never one per row)."""
    check_queryset(model, queryset)
    plain = [s.attribute for s in specs if s.relation != "many"]
    many = [s for s in specs if s.relation == "many"]
    if not many:
        return list(queryset.values_list(*plain))
    key_at = _key_position(model, plain)
    rows = list(queryset.values_list(*plain, *([] if key_at < len(plain) else [model._meta.pk.attname])))
    return _with_many(rows, specs, key_at, queryset.db)


def serialize_rows(layout, model, queryset: QuerySet, specs, as_json: bool):
    """``layout.rows(query_rows(...))`` (or ``rows_json``), with the rows read
    from the database's cursor and their raw values read natively where the
    query set route of ``zembra.django`` knows the columns' converters."""
    check_queryset(model, queryset)
    raw = _cursor_rows(model, queryset, specs)
    if raw is not None:
        rows, plan = raw
        done = (layout.raw_rows_json if as_json else layout.raw_rows)(rows, plan)
        if done is not None:
            return done
    rows = query_rows(model, queryset, specs)
    return layout.rows_json(rows) if as_json else layout.rows(rows)


def _selects(compiler, fields) -> bool:
    """Whether column i of the SQL is field i's own column (a relation's
    column holds its target field's values)."""
    from django.db.models.expressions import Col

    if len(compiler.select) != len(fields):
        return False
    for (column, _, _), field in zip(compiler.select, fields):
        output = field.target_field if field.is_relation else field
        if type(column) is not Col or column.target is not field or column.output_field is not output:
            return False
    return True


def _key_position(model, attributes: list[str]) -> int:
    name = model._meta.pk.attname
    return attributes.index(name) if name in attributes else len(attributes)


def _with_many(rows, specs, key_at: int, using: str) -> list[tuple]:
    """Rows of the plain columns (plus the key at key_at) with each to-many
    spec's keys put in its place."""
    pks = [row[key_at] for row in rows]
    keys = {id(s): _many_keys(s, pks, using) for s in specs if s.relation == "many"}
    out = []
    for row in rows:
        values = iter(row)
        out.append(tuple(keys[id(s)].get(row[key_at], ()) if s.relation == "many" else next(values) for s in specs))
    return out


def _cursor_rows(model, queryset: QuerySet, specs):
    """(rows, plan) straight from the cursor, or None where only Django's own
    converters can read the columns (the same readers as the queryset route)."""
    plain = [s for s in specs if s.relation != "many"]
    attributes = [s.attribute for s in plain]
    fields = [s.model_field for s in plain]
    many = len(plain) != len(specs)
    key_at = _key_position(model, attributes)
    if many and key_at == len(attributes):
        attributes.append(model._meta.pk.attname)
        fields.append(model._meta.pk)
    rows_query = queryset.values_list(*attributes)
    compiled = compiled_rows_query(queryset, rows_query)
    if compiled is None:
        return None
    if compiled is NO_ROWS:
        return [], tuple(0 for _ in specs)
    compiler, sql, params = compiled
    if not _selects(compiler, fields):
        return None
    plan = plan_for(("layer", model, rows_query.db, tuple(fields)), compiler, fields)
    if plan is None:
        return None
    with compiler.connection.cursor() as cursor:
        cursor.execute(sql, params)
        rows = cursor.fetchall()
    if not many:
        return rows, plan
    readers = iter(plan)
    full_plan = tuple(0 if s.relation == "many" else next(readers) for s in specs)
    if any(code != 0 for code in plan[key_at:key_at + 1]):
        return None  # keys that need a converter cannot group the to-many keys
    return _with_many(rows, specs, key_at, queryset.db), full_plan


def _many_keys(spec: _Field, pks: list, using: str) -> dict[Any, list]:
    """source key -> its related keys, in the related model's default order."""
    if not pks:
        return {}
    query_name = getattr(spec, "query_name", None) or spec.model_field.related_query_name()
    related = spec.related_model._default_manager.db_manager(using)
    pairs = _pairs_by_compiled_sql(spec, query_name, related, pks, using)
    if pairs is None:
        pairs = related.filter(**{f"{query_name}__in": pks}).values_list(query_name, spec.to_field.attname)
    grouped: dict[Any, list] = {}
    for source, key in pairs:
        grouped.setdefault(source, []).append(key)
    return grouped


# (related model, query name, attname, alias) -> (sql, params, position) of
# the pairs query with one key, or None where it is not compiled.
_pairs_sql: dict = {}
_IN_ONE = " IN (%s)"


def _pairs_by_compiled_sql(spec, query_name, related, pks, using):
    """The (key, related value) pairs of ``_many_keys`` from its SQL compiled
    once: Django's statement for one key, its ``IN (%s)`` widened to the
    keys (Django's own In lookup writes one placeholder per distinct key).
    Only for a plain default manager, integer keys and columns without
    converters; None where Django's query must run."""
    if not all(type(pk) is int for pk in pks) or len(set(pks)) != len(pks):
        return None
    key = (spec.related_model, query_name, spec.to_field.attname, using)
    compiled = _pairs_sql.get(key, _NO_ROUTE)
    if compiled is _NO_ROUTE:
        compiled = _compile_pairs(related, query_name, spec.to_field.attname, using)
        remember(_pairs_sql, key, compiled)
    if compiled is None:
        return None
    sql, params, position = compiled
    with connections[using].cursor() as cursor:
        cursor.execute(sql.replace(_IN_ONE, " IN (" + ", ".join(["%s"] * len(pks)) + ")"),
                       (*params[:position], *pks, *params[position + 1:]))
        return cursor.fetchall()


def _compile_pairs(related, query_name, attname, using):
    if _plain_manager(related) is None or connections[using].vendor not in ("sqlite", "postgresql"):
        return None
    stand_in = 29_711
    query = related.filter(**{f"{query_name}__in": [stand_in]}).values_list(query_name, attname)
    compiler = query.query.get_compiler(using=using)
    sql, params = compiler.as_sql()  # fills compiler.select
    if compiler.get_converters([column for column, _, _ in compiler.select]):
        return None
    key_field = compiler.select[0][0].target if compiler.select else None
    while key_field is not None and key_field.is_relation:
        key_field = key_field.target_field
    if key_field is None or key_field.get_internal_type() not in ("AutoField", "BigAutoField", "IntegerField",
                                                                  "BigIntegerField", "SmallAutoField"):
        return None
    params = list(params)
    if sql.count(_IN_ONE) != 1 or params.count(stand_in) != 1:
        return None
    return sql, params, params.index(stand_in)


class _ExactLookup:
    """What a compiled uniqueness query reads of DRF's UniqueValidator."""

    lookup = "exact"

    def __init__(self, queryset):
        self.queryset = queryset


def key_fits(field: models.Field, key, using: str) -> bool:
    """Whether an integer key is within its column's range: a key outside
    cannot exist, and the database would refuse the query."""
    if not isinstance(key, int):
        return True
    from django.db import connections

    try:
        low, high = connections[using].ops.integer_field_range(_target(field).get_internal_type())
    except KeyError:
        return True
    return (low is None or key >= low) and (high is None or key <= high)


def _lookup(spec: _Field, related, key, by_pk: bool):
    """(object, None) or (None, problems): ``related.get(pk=key)`` as DRF's
    PrimaryKeyRelatedField asks it, or ``get(<to_field>=key)`` as its
    SlugRelatedField does; a Django ValidationError (a key the target
    field's lookup cannot read) is reported as DRF's serializer reports it."""
    try:
        if by_pk and isinstance(key, bool):
            raise TypeError
        return related.get(**{"pk" if by_pk else spec.to_field.name: key}), None
    except ObjectDoesNotExist:
        if by_pk:
            return None, [(f'Invalid pk "{key}" - object does not exist.', "does_not_exist")]
        return None, [(f"Object with {spec.to_field.name}={key} does not exist.", "does_not_exist")]
    except (TypeError, ValueError):
        if by_pk:
            return None, [(f"Incorrect type. Expected pk value, received {type(key).__name__}.", "incorrect_type")]
        return None, [("Invalid value.", "invalid")]
    except ValidationError as exc:
        return None, [(error.message % error.params if error.params else error.message,
                       error.code or getattr(exc, "code", None) or "invalid") for error in exc.error_list]


def _unread(errors: Mapping[str, list]) -> bool:
    """Whether the body was not read as an object (malformed, or not an
    object), so no field was checked; unknown keys leave the fields read."""
    return any(code != "unknown_field" for _message, code in errors.get("non_field_errors", ()))


def _decoded(body, encoding: str | None):
    """(body, None) ready for the parser, or (None, problem) when its bytes
    are not text in its charset. A request's body is read in its charset,
    bytes in ``encoding``: decoded as DRF's JSONParser decodes them (a
    stream reader), UTF-8 left to the parser, which reads it as DRF does."""
    from django.http import HttpRequest

    request = getattr(body, "_request", body)  # DRF's Request wraps Django's
    if isinstance(request, HttpRequest):
        from django.conf import settings

        encoding = request.encoding or settings.DEFAULT_CHARSET
        body = request.body
    if encoding is None or not isinstance(body, (bytes, bytearray, memoryview)):
        return body, None
    if codecs.lookup(encoding).name == "utf-8":
        return body, None
    try:
        return codecs.getreader(encoding)(io.BytesIO(body)).read(), None
    except ValueError as exc:
        return None, (f"JSON parse error - {exc}", "parse_error")


def _missing_object(spec: _Field, key) -> tuple[str, str]:
    if spec.relation == "one" and not spec.to_field.primary_key:
        return (f"Object with {spec.to_field.name}={key} does not exist.", "does_not_exist")
    return (f'Invalid pk "{key}" - object does not exist.', "does_not_exist")


def _use_tz() -> bool:
    from django.conf import settings

    return bool(settings.USE_TZ)


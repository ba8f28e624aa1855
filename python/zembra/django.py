"""The Django side of the zembra package (imports Django)."""

from __future__ import annotations

from zembra._requires import require

require("django", "zembra.django", "django")

from collections.abc import AsyncIterator, Iterator  # noqa: E402  (after the check of what this module needs)
from typing import Any  # noqa: E402

from asgiref.sync import sync_to_async
from django.db.models.query import ModelIterable, QuerySet
from django.http import HttpResponse

import zembra_django
from zembra import _speedups, serialize_values_list_json
from zembra._layer import ModelResource
from zembra._row_readers import NO_ROWS, native_route, pg_text_readable, remember
from zembra._streaming import AsyncChunks, json_chunks

__all__ = ["JsonBytesResponse", "ModelResource", "serialize_queryset", "serialize_queryset_json", "aserialize_queryset",
           "aserialize_queryset_json", "stream_queryset_json", "astream_queryset_json"]


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
                      _speedups._queryset_pg_records, zembra_django.serialize_values_list)


def serialize_queryset_json(queryset: QuerySet, schema: zembra_django.ModelSchema) -> bytes:
    """serialize_queryset() as UTF-8 JSON bytes: always what
    ``zembra.serialize_values_list_json(list(queryset.values_list(*names)), schema)``
    gives, with the same fast path and the same fallback."""
    return _serialize(queryset, schema, "serialize_queryset_json", _speedups._queryset_json,
                      _speedups._queryset_pg_json, serialize_values_list_json)


async def aserialize_queryset(queryset: QuerySet, schema: zembra_django.ModelSchema) -> list[dict[str, Any]]:
    """``serialize_queryset`` for ``async def`` views: the query runs in
    Django's thread for database work (``sync_to_async``), so it is safe
    under ASGI."""
    return await sync_to_async(serialize_queryset)(queryset, schema)


async def aserialize_queryset_json(queryset: QuerySet, schema: zembra_django.ModelSchema) -> bytes:
    """``serialize_queryset_json`` for ``async def`` views."""
    return await sync_to_async(serialize_queryset_json)(queryset, schema)


def stream_queryset_json(queryset: QuerySet, schema: zembra_django.ModelSchema, *, lines: bool = False,
                         batch_size: int = 2000) -> Iterator[bytes]:
    """serialize_queryset_json() in chunks, for a ``StreamingHttpResponse``::

        return StreamingHttpResponse(stream_queryset_json(qs, schema),
                                     content_type="application/json")

    The rows are read ``batch_size`` at a time (the first batch is smaller,
    so the first bytes leave early): through a cursor declared on the
    PostgreSQL server, in a transaction of the stream's own in autocommit mode
    (unless the database's DISABLE_SERVER_SIDE_CURSORS is set, as for
    QuerySet.iterator()), in fetches of a batch on SQLite; each batch is
    written as soon as it is read, so memory does not grow with the row
    count. Joined, the chunks are the bytes of serialize_queryset_json(); with
    ``lines=True`` each record is followed by a newline instead
    (newline-delimited JSON, no brackets; nothing at all for no rows).

    The query runs when the first chunk is asked for. Closing the iterator
    (servers do when the client goes away) closes the cursor. An error once
    chunks have left (a database error, a value the values_list route
    refuses) is raised from the iteration, as for any streaming response.
    """
    return _stream(queryset, schema, lines, batch_size, "stream_queryset_json")


def astream_queryset_json(queryset: QuerySet, schema: zembra_django.ModelSchema, *, lines: bool = False,
                          batch_size: int = 2000) -> AsyncIterator[bytes]:
    """stream_queryset_json() for ``async def`` views under ASGI: an async
    iterator whose batches are read in Django's thread for database work::

        return StreamingHttpResponse(astream_queryset_json(qs, schema),
                                     content_type="application/json")

    (A plain iterator in an ASGI response would be read whole by Django
    before the first byte leaves.) The response closes the cursor when it
    ends, also when the client has gone away."""
    return AsyncChunks(_stream(queryset, schema, lines, batch_size, "astream_queryset_json"))


def _stream(queryset, schema, lines, batch_size, function):
    fields = _checked_fields(queryset, schema, function)
    if isinstance(batch_size, bool) or not isinstance(batch_size, int):
        raise TypeError(f"{function}(): batch_size must be an int, not {type(batch_size).__name__!r}")
    if batch_size < 1:
        raise ValueError(f"{function}(): batch_size must be at least 1, not {batch_size}")
    return json_chunks(queryset, schema, fields, lines=bool(lines), batch_size=batch_size)


# (schema, model) -> the model's fields in schema order, once the schema is
# known to be compiled from that model. The key holds the schema alive, so an
# id is never reused while cached.
_fields_of: dict[tuple[Any, Any], list[Any]] = {}


def _serialize(queryset, schema, function, native, native_pg, reference):
    fields = _checked_fields(queryset, schema, function)
    route = native_route(queryset, schema, fields)
    if route is NO_ROWS:
        return reference([], schema)
    if route is not None:
        compiler, sql, params, plan = route
        with compiler.connection.cursor() as cursor:
            cursor.execute(sql, params)
            if compiler.connection.vendor == "postgresql" and pg_text_readable(cursor.cursor):
                # The server's text, read straight from the result psycopg
                # holds, before psycopg builds any Python value.
                result = native_pg(cursor.cursor, schema, plan)
                if result is not None:
                    return result
            rows = cursor.fetchall()
        result = native(rows, schema, plan)
        if result is not None:
            return result
    # The values_list route itself, on a query of its own (compiling may
    # have changed the one above).
    return reference(list(queryset.values_list(*schema.field_names_list)), schema)



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
        remember(_fields_of, key, fields)
    return fields


def _compiled_from(schema, model):
    names = {model.__name__, model._meta.concrete_model.__name__}  # a proxy reads its model's table
    return (schema.model_name_str in names
            and zembra_django.extract_model_fields(model) == schema.to_descriptor_list())

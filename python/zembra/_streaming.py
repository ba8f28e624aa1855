"""A queryset's JSON in chunks, for Django's StreamingHttpResponse: the rows
are read in batches (a cursor declared on the PostgreSQL server, fetches of
a batch at a time on SQLite) and each batch is written as soon as it is read, so the
memory a stream holds does not grow with the number of rows.

The chunks of a stream, joined, are always the bytes of
``serialize_queryset_json`` (or its newline-delimited form): each batch takes
the native readers where they read the whole query (as the one-shot route
does), and a batch whose values they refuse is written by the values_list
route from the same rows, converted by Django's own converters.
"""

from __future__ import annotations

import contextlib
import itertools
import weakref
from collections.abc import AsyncIterator, Iterator
from typing import Any

from asgiref.sync import sync_to_async
from django.db import connections, transaction

from zembra import _speedups, serialize_values_list_json
from zembra._row_readers import NO_ROWS, native_route, pg_text_readable

# Record layouts of _speedups._queryset_json.
ITEMS, LINES = 1, 2

# The first batch is small, so that the first bytes leave before a whole
# batch has been read; the batches after it have the size asked for.
FIRST_BATCH = 100


def json_chunks(queryset, schema, fields, *, lines: bool, batch_size: int) -> Iterator[bytes]:
    """The stream's chunks; runs the query on the first next(). Closing the
    generator (as servers do when a client goes away) closes the cursor."""
    with _cursor_scope(connections[queryset.db]):
        form = LINES if lines else ITEMS
        route = native_route(queryset, schema, fields)
        if route is NO_ROWS:
            bodies = _no_bodies()
        elif route is None:
            bodies = _values_list_bodies(queryset, schema, form, batch_size)
        else:
            bodies = _native_bodies(*route, schema, form, batch_size)
        try:
            if lines:
                for body in bodies:
                    if body:
                        yield body
                return
            opening = b"["
            for body in bodies:
                if body:
                    yield opening + body
                    opening = b","
            yield b"[]" if opening == b"[" else b"]"
        finally:
            bodies.close()


def _cursor_scope(connection):
    """A transaction around the stream on PostgreSQL in autocommit mode.
    Outside a transaction a cursor must be declared WITH HOLD, and
    PostgreSQL then computes and stores the whole result before it sends
    the first row; in a transaction the rows are sent as they are found.
    The stream only reads, so the transaction ends with a rollback or a
    commit alike."""
    if connection.vendor == "postgresql" and connection.get_autocommit() \
            and not connection.settings_dict.get("DISABLE_SERVER_SIDE_CURSORS"):
        return transaction.atomic(using=connection.alias)
    return contextlib.nullcontext()


def _no_bodies():
    yield from ()


def _batch_sizes(batch_size):
    yield min(FIRST_BATCH, batch_size)
    yield from itertools.repeat(batch_size)


def _native_bodies(compiler, sql, params, plan, schema, form, batch_size):
    connection = compiler.connection
    if connection.vendor == "postgresql" and connection.in_atomic_block \
            and not connection.settings_dict.get("DISABLE_SERVER_SIDE_CURSORS"):
        yield from _pg_bodies(compiler, sql, params, plan, schema, form, batch_size)
        return
    cursor = connection.chunked_cursor()
    try:
        cursor.execute(sql, params)
        for size in _batch_sizes(batch_size):
            rows = cursor.fetchmany(size)
            if rows:
                body = _speedups._queryset_json(rows, schema, plan, form)
                yield _values_list_body(_converted(compiler, rows), schema, form) if body is None else body
            if len(rows) < size:  # the database has no more rows
                return
    finally:
        cursor.close()


def _pg_bodies(compiler, sql, params, plan, schema, form, batch_size):
    """The batches of a cursor declared on the server, each FETCH read
    natively from the result psycopg holds, before psycopg builds Python
    values of it (its server-side cursor's fetchmany() would build them)."""
    connection = compiler.connection
    with _cursor_name(connection) as name, connection.cursor() as cursor:
        cursor.execute(f"DECLARE {name} NO SCROLL CURSOR FOR {sql}", params)
        try:
            for size in _batch_sizes(batch_size):
                cursor.execute(f"FETCH FORWARD {size} FROM {name}")
                result = cursor.cursor
                count = result.rowcount
                body = _speedups._queryset_pg_json(result, schema, plan, form=form) \
                    if pg_text_readable(result) else None
                if body is None:
                    rows = cursor.fetchall()
                    body = _speedups._queryset_json(rows, schema, plan, form)
                    if body is None:
                        body = _values_list_body(_converted(compiler, rows), schema, form)
                if count:
                    yield body
                if count < size:
                    break
        except BaseException:
            # Closed also when the client has gone away, or the values_list
            # route has raised; after a database error the transaction takes
            # no more commands, and its rollback drops the cursor.
            from psycopg.pq import TransactionStatus

            if cursor.cursor.connection.info.transaction_status != TransactionStatus.INERROR:
                cursor.execute(f"CLOSE {name}")
            raise
        cursor.execute(f"CLOSE {name}")


# Names of the cursors each connection's streams have open. A name is used
# again once its stream has ended: psycopg keeps statements by their text,
# and a new name per stream would make every FETCH a new statement.
_names_in_use: weakref.WeakKeyDictionary[Any, set[int]] = weakref.WeakKeyDictionary()


@contextlib.contextmanager
def _cursor_name(connection):
    in_use = _names_in_use.setdefault(connection, set())
    number = next(n for n in itertools.count() if n not in in_use)
    in_use.add(number)
    try:
        yield connection.ops.quote_name(f"_zembra_stream_{number}")
    finally:
        in_use.discard(number)


def _converted(compiler, rows):
    """The rows as values_list() gives them: Django's converters applied to
    the raw rows, as the compiler's own results_iter() applies them."""
    converters = compiler.get_converters([column for column, _, _ in compiler.select])
    if not converters:
        return rows
    return list(map(tuple, compiler.apply_converters(rows, converters)))


def _values_list_bodies(queryset, schema, form, batch_size):
    rows = queryset.values_list(*schema.field_names_list).iterator(chunk_size=batch_size)
    try:
        for size in _batch_sizes(batch_size):
            batch = list(itertools.islice(rows, size))
            if batch:
                yield _values_list_body(batch, schema, form)
            if len(batch) < size:
                return
    finally:
        rows.close()


def _values_list_body(rows, schema, form):
    if form == ITEMS:
        return serialize_values_list_json(rows, schema)[1:-1]
    return b"".join([serialize_values_list_json([row], schema)[1:-1] + b"\n" for row in rows])


class AsyncChunks:
    """The chunks of a stream for an ``async def`` view: each batch is read
    in Django's thread for database work, where the cursor lives.

    ``close()`` is for Django: a streaming response registers it and calls
    it when the response ends, also when the client has gone away.
    """

    def __init__(self, chunks: Iterator[bytes]) -> None:
        self._chunks = chunks
        self._next = sync_to_async(next, thread_sensitive=True)

    def __aiter__(self) -> AsyncIterator[bytes]:
        return self

    async def __anext__(self) -> bytes:
        chunk = await self._next(self._chunks, None)
        if chunk is None:
            raise StopAsyncIteration
        return chunk

    def close(self) -> None:
        self._chunks.close()

    async def aclose(self) -> None:
        await sync_to_async(self._chunks.close, thread_sensitive=True)()

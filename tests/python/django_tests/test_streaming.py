"""zembra.django.stream_queryset_json and astream_queryset_json: joined, the
chunks are serialize_queryset_json's bytes on every route and batch size;
the cursor is closed when a client goes away; memory does not grow with the
row count; errors once chunks have left are raised from the iteration."""

import datetime as dt
import decimal
import itertools
import json
import tracemalloc
import uuid

import pytest
from asgiref.sync import async_to_sync
from django.db import connection, connections
from django.db.models import Value
from django.http import StreamingHttpResponse

import zembra._streaming as streaming
import zembra_django as zd
from django_tests.testapp.models import Customised, Sample
from zembra.django import astream_queryset_json, serialize_queryset_json, stream_queryset_json

SAMPLE = zd.ModelSchema(Sample)
UTC = dt.timezone.utc


def fill(count, **values):
    Sample.objects.all().delete()
    Sample.objects.bulk_create(
        Sample(text=f"é{i}\n\"", count=i, money=decimal.Decimal(i) / 4, key=uuid.UUID(int=i), flag=i % 2 == 0,
               moment=dt.datetime(2024, 1, 1, tzinfo=UTC) + dt.timedelta(seconds=i), doc={"i": [i, None]}, **values)
        for i in range(count))


def joined(qs, schema, **options):
    return b"".join(stream_queryset_json(qs, schema, **options))


def as_array(lines):
    return b"[" + b",".join(lines.splitlines()) + b"]"


@pytest.fixture
def samples(db):
    fill(23)
    yield
    Sample.objects.all().delete()


@pytest.mark.parametrize("batch_size", [1, 2, 3, 22, 23, 24, 2000])
@pytest.mark.parametrize("make", [
    lambda: Sample.objects.order_by("pk"),
    lambda: Sample.objects.filter(count__gte=5).order_by("-count")[2:17],
    lambda: Sample.objects.filter(pk=-1),
    lambda: Sample.objects.none(),
    lambda: Sample.objects.annotate(n=Value(1)).order_by("pk"),  # the values_list route
], ids=["all", "sliced", "no rows", "none()", "annotated"])
def test_chunks_join_to_the_one_shot_bytes(samples, make, batch_size):
    expected = serialize_queryset_json(make(), SAMPLE)
    assert joined(make(), SAMPLE, batch_size=batch_size) == expected
    lines = joined(make(), SAMPLE, batch_size=batch_size, lines=True)
    assert lines.count(b"\n") == len(json.loads(expected)) and as_array(lines) == expected
    assert b"".join(async_to_sync(collect)(astream_queryset_json(make(), SAMPLE, batch_size=batch_size))) == expected


async def collect(chunks):
    return [chunk async for chunk in chunks]


async def first_chunk(response):
    return await anext(aiter(response.streaming_content))


def test_fallbacks_per_batch_and_per_query(db, monkeypatch):
    # Values the native readers refuse (an int past the interpreter's digit
    # limit) in the second batch only: that batch takes the values_list route.
    fill(250)
    Sample.objects.filter(count=180).update(doc=[10**700])
    qs = Sample.objects.order_by("pk")
    expected = serialize_queryset_json(qs, SAMPLE)
    taken = []
    real = streaming._values_list_body
    monkeypatch.setattr(streaming, "_values_list_body", lambda rows, *args: taken.append(len(rows)) or real(rows, *args))
    assert joined(qs, SAMPLE, batch_size=100) == expected
    assert taken == [100]  # the second batch only
    Customised.objects.create(name="MiXeD")
    customised = zd.ModelSchema(Customised)
    assert joined(Customised.objects.all(), customised) == serialize_queryset_json(Customised.objects.all(), customised)
    Sample.objects.all().delete()


@pytest.mark.database("sqlite")
def test_error_after_the_first_chunk_is_raised_from_the_iteration(db):
    fill(300)
    with connection.cursor() as cursor:  # a stored value Django's decimal converter refuses
        cursor.execute("UPDATE testapp_sample SET money = 'abc' WHERE count = 250")
    qs = Sample.objects.order_by("pk")
    with pytest.raises(decimal.InvalidOperation):
        serialize_queryset_json(qs, SAMPLE)
    chunks = stream_queryset_json(qs, SAMPLE, batch_size=100)
    assert next(chunks).startswith(b'[{"at":')
    with pytest.raises(decimal.InvalidOperation):
        list(chunks)
    Sample.objects.all().delete()


@pytest.mark.parametrize("route", ["sync", "async response"])
def test_going_away_closes_the_cursor(db, monkeypatch, route):
    fill(500)
    opened = []
    wrapper = type(connections[connection.alias])
    real = wrapper.chunked_cursor
    monkeypatch.setattr(wrapper, "chunked_cursor", lambda self: opened.append(real(self)) or opened[-1])
    qs = Sample.objects.order_by("pk")
    if route == "sync":
        chunks = stream_queryset_json(qs, SAMPLE, batch_size=100)
        first = next(chunks)
        chunks.close()  # what a WSGI server does when the client has gone away
    else:
        response = StreamingHttpResponse(astream_queryset_json(qs, SAMPLE, batch_size=100))
        first = async_to_sync(first_chunk)(response)
        response.close()  # what Django's ASGI handler does, also on a disconnect
    assert first.count(b'{"at":') == streaming.FIRST_BATCH
    # PostgreSQL: the stream declares its cursor on a cursor of its own.
    assert len(opened) == (connection.vendor == "sqlite")
    for cursor in opened:
        with pytest.raises(Exception, match="closed"):
            cursor.fetchone()
    assert not connection.in_atomic_block  # PostgreSQL: the stream's own transaction has ended
    with connection.cursor() as check:  # the connection is in a usable state
        check.execute("SELECT COUNT(*) FROM testapp_sample")
        assert check.fetchone() == (500,)
        if connection.vendor == "postgresql":
            check.execute("SELECT COUNT(*) FROM pg_cursors")
            assert check.fetchone() == (0,)
    Sample.objects.all().delete()


def test_memory_does_not_grow_with_the_row_count(db):
    def peak(count):
        fill(count)
        tracemalloc.start()
        try:
            for _ in stream_queryset_json(Sample.objects.order_by("pk"), SAMPLE, batch_size=200, lines=True):
                pass
            return tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()

    small, large = peak(1000), peak(8000)
    assert large < small * 1.5, (small, large)
    Sample.objects.all().delete()


@pytest.mark.parametrize("batch_size, error", [(0, ValueError), (-1, ValueError), (1.5, TypeError), (True, TypeError)])
def test_bad_arguments(db, batch_size, error):
    for stream in (stream_queryset_json, astream_queryset_json):
        with pytest.raises(error, match="batch_size"):
            stream(Sample.objects.all(), SAMPLE, batch_size=batch_size)
    with pytest.raises(TypeError, match="takes a QuerySet"):
        stream_queryset_json([1], SAMPLE)


def test_streams_read_side_by_side(samples):
    # Two streams open on one connection at once (on PostgreSQL, two cursors
    # declared on the server), then a third once they have ended.
    qs = Sample.objects.order_by("pk")
    streams = [stream_queryset_json(qs, SAMPLE, batch_size=size) for size in (5, 7)]
    parts = [[], []]
    for chunks in itertools.zip_longest(*streams):
        for part, chunk in zip(parts, chunks):
            if chunk is not None:
                part.append(chunk)
    expected = serialize_queryset_json(qs, SAMPLE)
    assert [b"".join(part) for part in parts] == [expected, expected] == [joined(qs, SAMPLE, batch_size=3)] * 2


@pytest.mark.parametrize("disabled", [False, True])
def test_without_server_side_cursors(samples, monkeypatch, disabled):
    # As for QuerySet.iterator(): a plain cursor, and no transaction of the stream's own.
    monkeypatch.setitem(connections[connection.alias].settings_dict, "DISABLE_SERVER_SIDE_CURSORS", disabled)
    qs = Sample.objects.order_by("-pk")
    chunks = stream_queryset_json(qs, SAMPLE, batch_size=4)
    first = next(chunks)
    assert connection.in_atomic_block == (connection.vendor == "postgresql" and not disabled)
    assert first + b"".join(chunks) == serialize_queryset_json(qs, SAMPLE)

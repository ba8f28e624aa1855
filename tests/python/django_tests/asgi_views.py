"""The routes of asgi_site.py: each as an ``async def`` view and as a plain
view (which Django's ASGI handler runs in its thread for sync code)."""

import zembra
import zembra_django as zd
from django.db.backends.base.base import BaseDatabaseWrapper
from django.http import StreamingHttpResponse
from django.urls import path

from django_tests.testapp.models import Article, Sample
from zembra.django import JsonBytesResponse, ModelResource, aserialize_queryset_json, astream_queryset_json
from zembra.django import serialize_queryset_json

RESOURCE = ModelResource(Article, fields=["id", "title", "slug", "price", "author", "labels"])
SAMPLE = zd.ModelSchema(Sample)


def articles_query():
    return Article.objects.order_by("pk")


def samples_query():
    return Sample.objects.order_by("pk")


async def async_articles(request):
    if request.method == "POST":
        values, report = await RESOURCE.aload(request)
        if report is not None:
            return JsonBytesResponse(zembra.encode_json(report), status=400)
        return JsonBytesResponse(RESOURCE.dump_json(await RESOURCE.asave(values)), status=201)
    return JsonBytesResponse(await RESOURCE.aserialize_queryset_json(articles_query()))


async def once_articles(request):
    """The create in one trip to Django's thread (``aload_and_save``)."""
    article, report = await RESOURCE.aload_and_save(request)
    if report is not None:
        return JsonBytesResponse(zembra.encode_json(report), status=400)
    return JsonBytesResponse(RESOURCE.dump_json(article), status=201)


def sync_articles(request):
    if request.method == "POST":
        values, report = RESOURCE.load(request)
        if report is not None:
            return JsonBytesResponse(zembra.encode_json(report), status=400)
        return JsonBytesResponse(RESOURCE.dump_json(RESOURCE.save(values)), status=201)
    return JsonBytesResponse(RESOURCE.serialize_queryset_json(articles_query()))


async def async_samples(request):
    return JsonBytesResponse(await aserialize_queryset_json(samples_query(), SAMPLE))


def sync_samples(request):
    return JsonBytesResponse(serialize_queryset_json(samples_query(), SAMPLE))


async def async_stream(request):
    chunks = astream_queryset_json(samples_query(), SAMPLE, lines=request.GET.get("lines") == "1",
                                   batch_size=int(request.GET.get("batch", "2000")))
    return StreamingHttpResponse(chunks, content_type="application/json")


# Every cursor a stream opened, so that the test can see a client going away
# close it.
OPENED = []
_chunked_cursor = BaseDatabaseWrapper.chunked_cursor


def _recorded_chunked_cursor(self):
    OPENED.append(_chunked_cursor(self))
    return OPENED[-1]


BaseDatabaseWrapper.chunked_cursor = _recorded_chunked_cursor


def closed(cursor):
    try:
        cursor.cursor.fetchone()
    except Exception:  # sqlite3: "Cannot operate on a closed cursor."
        return True
    return False


def stream_cursors(request):
    return JsonBytesResponse(zembra.encode_json([closed(cursor) for cursor in OPENED]))


urlpatterns = [
    path("async/articles/", async_articles),
    path("once/articles/", once_articles),
    path("sync/articles/", sync_articles),
    path("async/samples/", async_samples),
    path("sync/samples/", sync_samples),
    path("async/stream/", async_stream),
    path("stream/cursors/", stream_cursors),
]

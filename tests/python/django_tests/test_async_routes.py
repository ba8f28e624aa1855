"""The database routes in ``async def`` views (Django's async test client):
the same bytes and saved rows as the sync routes, where calling those
directly from the event loop is refused by Django."""

import json

import pytest
from asgiref.sync import async_to_sync
from django.core.exceptions import SynchronousOnlyOperation
from django.db import transaction
from django.test import AsyncClient
from django.test.utils import override_settings
from django.urls import path

import zembra_django as zd
from django_tests.testapp.models import Article, Author, Sample
from zembra.django import JsonBytesResponse, ModelResource, aserialize_queryset, aserialize_queryset_json
from zembra.django import serialize_queryset, serialize_queryset_json

RESOURCE = ModelResource(Article, fields=["id", "title", "slug", "price", "author", "labels"])
SAMPLE = zd.ModelSchema(Sample)


async def sample_rows(request):
    return JsonBytesResponse(await aserialize_queryset_json(Sample.objects.order_by("pk"), SAMPLE))


async def sample_dicts(request):
    return JsonBytesResponse(json.dumps(await aserialize_queryset(Sample.objects.order_by("pk"), SAMPLE),
                                        default=str).encode())


async def articles(request):
    if request.method == "POST":
        values, report = await RESOURCE.aload(request)
        if report is not None:
            return JsonBytesResponse(json.dumps(report).encode(), status=400)
        article = await RESOURCE.asave(values)
        return JsonBytesResponse(RESOURCE.dump_json(article), status=201)
    return JsonBytesResponse(await RESOURCE.aserialize_queryset_json(Article.objects.order_by("pk")))


async def refused(request):
    try:
        serialize_queryset_json(Sample.objects.all(), SAMPLE)
    except SynchronousOnlyOperation:
        return JsonBytesResponse(b'"refused"')
    return JsonBytesResponse(b'"ran"')


urlpatterns = [path("samples/", sample_rows), path("sample-dicts/", sample_dicts), path("articles/", articles),
               path("refused/", refused)]


@pytest.fixture
def world(db):
    with override_settings(ROOT_URLCONF=__name__), transaction.atomic():
        author = Author.objects.create(name="Ada")
        for i in range(3):
            Article.objects.create(title=f"t{i}", slug=f"s{i}", price="1.50", author=author)
        yield author
        transaction.set_rollback(True)


def get(url, **kwargs):
    return async_to_sync(AsyncClient().get)(url, **kwargs)


def test_lists_are_the_sync_routes_bytes(world):
    assert get("/samples/").content == serialize_queryset_json(Sample.objects.order_by("pk"), SAMPLE)
    assert json.loads(get("/sample-dicts/").content) == json.loads(json.dumps(
        serialize_queryset(Sample.objects.order_by("pk"), SAMPLE), default=str))
    assert get("/articles/").content == RESOURCE.serialize_queryset_json(Article.objects.order_by("pk"))
    assert get("/refused/").content == b'"refused"'


@pytest.mark.parametrize("body, status", [
    ({"title": "new", "slug": "new", "price": "2.50", "author": None, "labels": []}, 201),
    ({"title": "dup", "slug": "s1", "price": "x", "labels": [999]}, 400),
])
def test_load_and_save(world, body, status):
    response = async_to_sync(AsyncClient().post)("/articles/", body, content_type="application/json")
    assert response.status_code == status
    values, report = RESOURCE.load(json.dumps(body).encode())
    if status == 201:
        saved = Article.objects.prefetch_related("labels").get(slug="new")
        assert response.content == RESOURCE.dump_json(saved)
    else:
        assert json.loads(response.content) == report


@pytest.mark.parametrize("slug", ["s1", "s2"])
def test_load_and_save_in_one_call_updates_as_load_then_save(world, slug):
    # The article's own slug is no clash (the instance reaches the uniqueness
    # check); another article's is.
    article = Article.objects.get(slug="s1")
    body = json.dumps({"title": "renamed", "slug": slug}).encode()
    expected = RESOURCE.load(body, instance=article, partial=True)[1]
    saved, report = async_to_sync(RESOURCE.aload_and_save)(body, instance=article, partial=True)
    assert report == expected
    assert Article.objects.get(pk=article.pk).title == ("renamed" if expected is None else "t1")
    assert (saved is article) == (expected is None)

"""zembra.rest's paginators against DRF's on the same rows: the same status,
data, rendered bytes, queries (count, the COUNT statement, LIMIT/OFFSET),
links and browsable-API controls for a grid of query parameters; and the
page a query set's paginator hands the serializer is its unevaluated slice
(read as rows), where DRF hands a list of instances."""

import datetime as dt
import re
from decimal import Decimal

import pytest
from django.db import connection, transaction
from django.db.models.query import QuerySet
from django.test.utils import CaptureQueriesContext, override_settings
from django.utils import translation
from rest_framework import generics, pagination, renderers, serializers
from rest_framework.request import Request
from rest_framework.test import APIRequestFactory

import zembra.rest
from django_tests.testapp.layer_models import Article

FIELDS = ["id", "title", "slug", "price", "views", "happens", "status", "author"]
PAGE_SETTINGS = {"page_size": 3, "page_size_query_param": "page_size", "max_page_size": 5}
LIMIT_SETTINGS = {"default_limit": 3, "max_limit": 5}
SIDES = {
    "drf": (pagination, serializers.ModelSerializer, renderers.JSONRenderer),
    "zembra": (zembra.rest, zembra.rest.ModelSerializer, zembra.rest.JSONRenderer),
    # Our paginator handing its query set to DRF's own serializer.
    "zembra-drf-serializer": (zembra.rest, serializers.ModelSerializer, renderers.JSONRenderer),
}
ORDERINGS = {"asc": ("pk",), "desc": ("-price", "pk")}


@pytest.fixture
def hosts():
    with override_settings(ALLOWED_HOSTS=["testserver"], REST_FRAMEWORK={"UNAUTHENTICATED_USER": None}):
        yield


@pytest.fixture
def rows(db, hosts):
    with transaction.atomic():
        moment = dt.datetime(2024, 6, 1, 12, 0, tzinfo=dt.timezone.utc)
        for i in range(8):
            Article.objects.create(title=f"Title {i}", slug=f"s{i}", price=Decimal(f"{i % 3}.{i}0"), views=i // 3,
                                   happens=moment + dt.timedelta(hours=i) if i % 4 else None,
                                   status="live" if i % 2 else "draft")
        yield
        transaction.set_rollback(True)


def request(side, kind, params, ordering="asc", empty=False, settings=None):
    """One GET through a ListAPIView of that side; the view, the page given
    to the serializer, the rendered response and the queries run."""
    module, serializer_base, renderer = SIDES[side]
    paginator = type(f"{side}{kind}", (getattr(module, kind),), settings or {})
    serializer = type(f"{side}Serializer", (serializer_base,),
                      {"Meta": type("Meta", (), {"model": Article, "fields": FIELDS})})
    seen = {}

    class View(generics.ListAPIView):
        pagination_class = paginator
        serializer_class = serializer
        renderer_classes = [renderer]
        authentication_classes = []
        permission_classes = []

        def get_queryset(self):
            queryset = Article.objects.order_by(*ORDERINGS[ordering])
            return queryset.none() if empty else queryset

        def get_serializer(self, *args, **kwargs):
            seen["view"], seen["page"] = self, args[0]
            return super().get_serializer(*args, **kwargs)

        def handle_exception(self, exc):
            seen["view"] = self
            return super().handle_exception(exc)

    with CaptureQueriesContext(connection) as queries:
        response = View.as_view()(APIRequestFactory().get("/items/" + params))
        response.render()
    return seen, response, [q["sql"] for q in queries.captured_queries]


def assert_agree(kind, params, ordering="asc", empty=False, settings=None, side="zembra"):
    drf_seen, drf, drf_sql = request("drf", kind, params, ordering, empty, settings)
    seen, ours, sql = request(side, kind, params, ordering, empty, settings)
    assert (ours.status_code, ours.content) == (drf.status_code, drf.content)
    assert ours.data == drf.data
    assert len(sql) == len(drf_sql), (sql, drf_sql)
    assert [s for s in sql if "COUNT(" in s] == [s for s in drf_sql if "COUNT(" in s]
    limits = re.compile(r"LIMIT \d+(?: OFFSET \d+)?")
    assert [limits.findall(s) for s in sql] == [limits.findall(s) for s in drf_sql]
    drf_view, view = drf_seen["view"], seen["view"]
    if drf.status_code != 200:
        return seen, drf_seen
    drf_pager, pager = drf_view.paginator, view.paginator
    assert pager.display_page_controls == drf_pager.display_page_controls
    assert pager.get_html_context() == drf_pager.get_html_context()
    page, drf_page = seen["page"], drf_seen["page"]
    assert type(drf_page) is list
    if kind == "CursorPagination":
        assert type(page) is list and page == drf_page
    elif not drf_page:
        # DRF's [] before any page query, or an offset at the count (DRF
        # queries and finds nothing; the query counts above agree).
        assert list(page) == []
    else:
        # Handed unevaluated; zembra's serializer read it as rows, DRF's
        # evaluated it (one query either way, counted above).
        assert isinstance(page, QuerySet)
        assert (page._result_cache is None) == (side == "zembra")
        assert [a.pk for a in page] == [a.pk for a in drf_page]
    if kind == "PageNumberPagination":
        assert [a.pk for a in pager.page] == [a.pk for a in drf_pager.page]
        assert (pager.page.number, pager.page.paginator.count) == (drf_pager.page.number, drf_pager.page.paginator.count)
    return seen, drf_seen


CURSOR_SETTINGS = {"page_size": 3, "ordering": "pk"}
GRID = [("PageNumberPagination", PAGE_SETTINGS, p) for p in (
    "", "?page=2", "?page=3", "?page=last", "?page=4", "?page=0", "?page=-1", "?page=abc", "?page=2.0", "?page=",
    "?page_size=2&page=4", "?page_size=100&page=2", "?page_size=0", "?page_size=-1", "?page_size=x&page=2",
    "?page_size=8&page=last")] + [("LimitOffsetPagination", LIMIT_SETTINGS, p) for p in (
    "", "?limit=3&offset=3", "?offset=6", "?offset=7", "?offset=8", "?offset=9", "?limit=100", "?limit=100&offset=4",
    "?limit=0", "?limit=-2", "?offset=-1", "?offset=x&limit=2", "?limit=x", "?limit=2&offset=5")]


@pytest.mark.parametrize("side", ["zembra", "zembra-drf-serializer"])
@pytest.mark.parametrize("ordering", list(ORDERINGS))
@pytest.mark.parametrize("kind, settings, params", GRID)
def test_grid(rows, kind, settings, params, ordering, side):
    assert_agree(kind, params, ordering, settings=settings, side=side)


@pytest.mark.parametrize("language", ["en", "fr", "de"])
@pytest.mark.parametrize("kind, settings, params", [
    ("PageNumberPagination", PAGE_SETTINGS, ["", "?page=last", "?page=2", "?page=9", "?page=x"]),
    ("LimitOffsetPagination", LIMIT_SETTINGS, ["", "?offset=3"]),
    ("CursorPagination", CURSOR_SETTINGS, ["", "?cursor=cD0x", "?cursor=%%%"]),
])
def test_empty_results_and_errors_in_the_active_language(rows, kind, settings, params, language):
    with translation.override(language):
        for each in params:
            assert_agree(kind, each, settings=settings)
            assert_agree(kind, each, empty=True, settings=settings)


@pytest.mark.parametrize("ordering", ["pk", "-pk", "views", "-views", ("-slug",), "price"])
@pytest.mark.parametrize("page_size", [1, 3, 5])
def test_cursor_walk(rows, ordering, page_size):
    """Each side follows its own next links to the end and its previous
    links back: the same answers at every step."""
    settings = {"page_size": page_size, "ordering": ordering, "page_size_query_param": "size", "max_page_size": 4}
    for start in ("", "?size=9"):
        params, steps = start, 0
        for direction in ("next", "previous"):
            while True:
                seen, _ = assert_agree("CursorPagination", params, settings=settings)
                link = seen["view"].paginator.get_paginated_response([]).data[direction]
                if link is None:
                    break
                params, steps = link[link.index("?"):], steps + 1
                assert steps < 40
    for bad in ("?cursor=bm90IGEgY3Vyc29y", "?cursor=bz0teA==", "?cursor=cj14", "?cursor=%%"):
        assert_agree("CursorPagination", bad, settings=settings)


@pytest.mark.parametrize("kind, settings, params", [
    ("PageNumberPagination", PAGE_SETTINGS, ["?page=2", "?page=last", "?page_size=0", "?page=9"]),
    ("LimitOffsetPagination", LIMIT_SETTINGS, ["?offset=4", "?offset=30", "?limit=0", "?limit=9"]),
    ("CursorPagination", {**CURSOR_SETTINGS, "ordering": "-created"}, [""]),
])
def test_sequences_take_drfs_code(hosts, kind, settings, params):
    """Anything but a query set: DRF's own list, links and errors."""
    factory = APIRequestFactory()
    items = [{"created": i % 5, "n": i} for i in range(12)]
    for each in params:
        answers = []
        for module in (pagination, zembra.rest):
            pager = type("P", (getattr(module, kind),), settings)()
            try:
                page = pager.paginate_queryset(items, Request(factory.get("/x/" + each)))
                answers.append((page, pager.get_paginated_response(page).data))
            except Exception as exc:  # the same error, as DRF raises it
                answers.append((type(exc), str(exc)))
        assert answers[0] == answers[1]

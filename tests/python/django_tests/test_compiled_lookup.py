"""CompiledLookupMixin against DRF's own get_object(): the same retrieve
responses (status and bytes), objects, permission answers and queries, over
lookup values, lookup fields and query set shapes; DRF's get_object runs
where the shape is not the plain one."""

import uuid
from unittest import mock

import pytest
from django.db import connection, transaction
from django.db.models import Count
from django.test.utils import CaptureQueriesContext, override_settings
from rest_framework import filters, generics, permissions, serializers, viewsets
from rest_framework.test import APIRequestFactory

from django_tests.testapp.layer_models import Article, Author, Cook, Ticket
from zembra._views import CompiledLookupMixin

TICKET = "6fa459ea-ee8a-3ca4-894e-db77e160355e"


@pytest.fixture(scope="module")
def rows(db):
    with override_settings(ALLOWED_HOSTS=["testserver"], REST_FRAMEWORK={"UNAUTHENTICATED_USER": None}), \
            transaction.atomic():
        author = Author.objects.create(name="Ada")
        articles = [Article.objects.create(title=t, slug=t.lower(), price="1.50", author=author, active=i != 1)
                    for i, t in enumerate(("First", "Second", "Third"))]
        Ticket.objects.create(id=uuid.UUID(TICKET), article=articles[0], note="one")
        Cook.objects.create(name="Zoë")
        yield articles
        transaction.set_rollback(True)


class OddOnly(permissions.BasePermission):
    message = "Even keys are private."

    def has_object_permission(self, request, view, obj):
        return obj.pk % 2 == 1


class Counted(filters.BaseFilterBackend):
    """Hands the query set back as it is, counting its calls."""

    calls = 0

    def filter_queryset(self, request, queryset, view):
        Counted.calls += 1
        return queryset


class FirstOnly(filters.BaseFilterBackend):
    def filter_queryset(self, request, queryset, view):
        return queryset.filter(slug__startswith="f")


def viewset(queryset, bases=(), **options):
    serializer = type("S", (serializers.ModelSerializer,), {
        "Meta": type("Meta", (), {"model": queryset.model, "fields": "__all__"})})
    attrs = {"queryset": queryset, "serializer_class": serializer, "authentication_classes": [],
             "permission_classes": [], "filter_backends": [], **options}
    return type("V", (*bases, viewsets.ReadOnlyModelViewSet), attrs)


def retrieve(view_class, kwargs):
    """(status, bytes, SQL run) of a retrieve, and the object get_object gave."""
    seen = []

    class Seen(view_class):
        def get_object(self):
            seen.append(super().get_object())
            return seen[-1]

    request = APIRequestFactory().get("/x/")
    with CaptureQueriesContext(connection) as queries:
        response = Seen.as_view({"get": "retrieve"})(request, **kwargs).render()
    return (response.status_code, response.content, [q["sql"] for q in queries]), seen


def state(obj):
    values = {k: v for k, v in vars(obj).items() if k != "_state"}
    values["_prefetched_objects_cache"] = {k: list(v) for k, v in values.get("_prefetched_objects_cache", {}).items()}
    return type(obj), values, vars(obj._state)


def differential(queryset, kwargs, expect_compiled, **options):
    drf_answer, drf_seen = retrieve(viewset(queryset, **options), kwargs)
    with mock.patch.object(generics.GenericAPIView, "get_object", autospec=True,
                           side_effect=generics.GenericAPIView.get_object) as drfs_own:
        ours, ours_seen = retrieve(viewset(queryset, (CompiledLookupMixin,), **options), kwargs)
    assert ours == drf_answer
    assert [state(o) for o in ours_seen] == [state(o) for o in drf_seen]
    if expect_compiled:
        assert drfs_own.call_count == 0
    return ours[0]


PK_VALUES = ["{pk}", "{pk_int}", " {pk}", "٠{pk}", "999999", "abc", "", "1.0", "-1", str(2**70), "{pk}\n"]


@pytest.mark.parametrize("value", PK_VALUES)
def test_primary_key_lookups_are_drfs(rows, value):
    pk = rows[0].pk
    key = pk if value == "{pk_int}" else value.format(pk=pk)
    differential(Article.objects.all(), {"pk": key}, expect_compiled=True)


@pytest.mark.parametrize("queryset, lookup, value, compiled", [
    (lambda: Article.objects.all(), "slug", "second", True),
    (lambda: Article.objects.all(), "slug", "nothing", True),
    (lambda: Ticket.objects.all(), "pk", TICKET, True),
    (lambda: Ticket.objects.all(), "pk", TICKET.upper(), True),
    (lambda: Ticket.objects.all(), "pk", "not-a-uuid", True),
    (lambda: Ticket.objects.all(), "pk", uuid.UUID(int=7), True),
    (lambda: Cook.objects.all(), "name", "Zoë", True),
    (lambda: Article.objects.filter(active=True), "slug", "second", False),
    (lambda: Article.objects.order_by("-title").distinct(), "slug", "first", True),
    (lambda: Article.objects.using("default"), "slug", "first", True),
    (lambda: Article.objects.select_related("author"), "slug", "first", True),
    (lambda: Article.objects.select_related("author"), "slug", "second", True),
    (lambda: Ticket.objects.select_related("article__author").prefetch_related("watchers"), "pk", TICKET, True),
    (lambda: Article.objects.prefetch_related("labels"), "slug", "first", True),
    (lambda: Article.objects.only("title"), "slug", "first", True),
    (lambda: Article.objects.defer("body", "extra"), "slug", "first", True),
    (lambda: Article.objects.annotate(n=Count("labels")), "slug", "first", False),
    (lambda: Article.objects.all(), "title", "First", True),  # not unique: still one row
    (lambda: Article.objects.all(), "price", "1.50", False),  # several rows: DRF's error
    (lambda: Article.objects.all(), "author", "1", False),
    (lambda: Article.objects.all(), "slug__iexact", "FIRST", False),
])
def test_lookup_fields_and_query_sets_are_drfs(rows, queryset, lookup, value, compiled):
    options = {"lookup_field": lookup, "lookup_url_kwarg": "key"}
    try:
        differential(queryset(), {"key": value}, compiled, **options)
    except Article.MultipleObjectsReturned:
        with pytest.raises(Article.MultipleObjectsReturned):
            retrieve(viewset(queryset(), (CompiledLookupMixin,), **options), {"key": value})


@pytest.mark.parametrize("options, compiled", [
    ({"permission_classes": [OddOnly]}, True),
    ({"permission_classes": [permissions.IsAuthenticated]}, True),
    ({"filter_backends": [filters.OrderingFilter]}, True),  # no ordering asked for: the query set as it was
    ({"filter_backends": [filters.SearchFilter, Counted]}, True),
    ({"filter_backends": [Counted, FirstOnly]}, False),
    ({"get_queryset": lambda self: Article.objects.filter(slug__startswith="f")}, False),
])
def test_permissions_filters_and_own_query_sets_are_drfs(rows, options, compiled):
    for article in rows:
        Counted.calls = 0
        differential(Article.objects.all(), {"pk": str(article.pk)}, compiled, **options)
        assert Counted.calls in (0, 2)  # once per side: the backends run once, as in DRF

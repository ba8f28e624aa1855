"""Compiled hyperlinks (zembra._urls) against DRF's hyperlinked fields: for
every URL shape, request and lookup value, the compiled URL is DRF's own
field.to_representation(obj), or the compiled form declines the value."""

import sys
import uuid
from types import SimpleNamespace

import pytest
from django.core.exceptions import ImproperlyConfigured
from django.http import HttpResponse
from django.test import override_settings
from django.urls import clear_script_prefix, include, path, re_path, set_script_prefix
from rest_framework import serializers, versioning, viewsets
from rest_framework.relations import Hyperlink
from rest_framework.request import Request
from rest_framework.routers import DefaultRouter, SimpleRouter
from rest_framework.test import APIRequestFactory
from rest_framework.urlpatterns import format_suffix_patterns

from django_tests.testapp.models import Owner
from zembra._urls import compile_link, hyperlink


def view(request, **kwargs):
    return HttpResponse()


class Things(viewsets.ReadOnlyModelViewSet):
    queryset = Owner.objects.all()


class Dotted(viewsets.ReadOnlyModelViewSet):
    queryset = Owner.objects.all()
    lookup_value_regex = "[^/]+"


def routed(router, prefix, basename, viewset=Things):
    router.register(prefix, viewset, basename=basename)
    return router.urls


versioned_inner = [path("items/<int:pk>/", view, name="item-detail")]

urlpatterns = [
    path("int/<int:pk>/", view, name="int"),
    path("str/<str:pk>/", view, name="str"),
    path("slug/<slug:pk>/", view, name="slug"),
    path("uuid/<uuid:pk>/", view, name="uuid"),
    path("path/<path:pk>/end", view, name="path"),
    path("code/<slug:code>", view, name="code"),
    re_path(r"^re/(?P<pk>[0-9]+)/$", view, name="re"),
    # Django tries same-named patterns last one first.
    path("dup/<int:pk>/", view, name="dup"),
    re_path(r"^restricted/(?P<pk>[0-9]{2})/$", view, name="dup"),
    re_path(r"^restricted/(?P<pk>[0-9]{2})/$", view, name="dup2"),
    path("fixed/<int:pk>/", view, name="fixed"),
    path("fixed/", view, {"pk": 5}, name="fixed"),
    path("dup2/<int:pk>/", view, name="dup2"),
    path("d/", include(routed(DefaultRouter(), "things", "thing"))),
    path("s/", include(routed(SimpleRouter(trailing_slash=False), "bare", "bare"))),
    path("p/", include(routed(SimpleRouter(use_regex_path=False), "pathed", "pathed"))),
    path("dots/", include(routed(SimpleRouter(), "dotted", "dotted", Dotted))),
    path("ns/", include((routed(SimpleRouter(), "inner", "inner"), "app"), namespace="spaced")),
    re_path(r"^(?P<version>v[0-9])/ver/(?P<pk>[0-9]+)/$", view, name="ver"),
    path("v1/", include((versioned_inner, "items"), namespace="v1")),
    path("v2/", include((versioned_inner, "items"), namespace="v2")),
    *format_suffix_patterns([path("fmt/<int:pk>/", view, name="fmt"),
                             re_path(r"^refmt/(?P<pk>[0-9]+)/$", view, name="refmt")]),
]

pytestmark = pytest.mark.usefixtures("url_conf")


@pytest.fixture
def url_conf():
    with override_settings(ROOT_URLCONF=sys.modules[__name__], ALLOWED_HOSTS=["*"]):
        yield


INTS = [0, 1, 42, -1, -(2**63), 2**63, 2**64 + 1, True]
TEXTS = ["abc", "A_-z~", "a b", "ünï", "a/b", "a.b", "..", ".", "50%", "%41", "-", "", "x?y", "x#y", "v1"]
UUIDS = [uuid.UUID("12345678-1234-5678-1234-567812345678"), uuid.UUID(int=0)]

ROUTES = [  # (view name, lookup field, values, whether ints/texts/uuids should compile)
    ("int", "pk", INTS + ["7"], "ints"),
    ("str", "pk", INTS + TEXTS + UUIDS, "all"),
    ("slug", "pk", INTS + TEXTS + UUIDS, "all"),
    ("uuid", "pk", UUIDS + ["12345678-1234-5678-1234-567812345678"], "uuids"),
    ("path", "pk", INTS + TEXTS + UUIDS, "all"),
    ("code", "code", TEXTS, "all"),
    ("re", "pk", INTS, "ints"),
    ("dup", "pk", [5, 12, 123], None),
    ("dup2", "pk", [5, 12, 123], "ints"),
    ("fixed", "pk", [5, 6, "5"], None),
    ("thing-detail", "pk", INTS + TEXTS + UUIDS, "all"),
    ("bare-detail", "pk", INTS + TEXTS, "all"),
    ("pathed-detail", "pk", INTS + TEXTS, "all"),
    ("dotted-detail", "pk", INTS + TEXTS, "all"),
    ("spaced:inner-detail", "pk", INTS + TEXTS, "all"),
    ("fmt", "pk", INTS, "ints"),
    ("refmt", "pk", INTS, "ints"),
]

factory = APIRequestFactory()

REQUESTS = {
    "none": lambda: None,
    "http": lambda: Request(factory.get("/x/")),
    "https-port": lambda: Request(factory.get("/x/", secure=True, HTTP_HOST="api.example.com:8443")),
    "format-override": lambda: Request(factory.get("/x/", {"format": "json", "b": "1"})),
    "plain-django": lambda: factory.get("/x/?format=api"),
}


def field_for(view_name, lookup_field, request, format, field_format=None):
    options = {"view_name": view_name, "lookup_field": lookup_field}
    if field_format:
        options["format"] = field_format
    serializer_class = type("S", (serializers.Serializer,), {"url": serializers.HyperlinkedIdentityField(**options)})
    context = {"request": request} if format is None else {"request": request, "format": format}
    return serializer_class(context=context).fields["url"]


def drf_answer(field, value):
    obj = SimpleNamespace(pk=value, code=value)
    try:
        return field.to_representation(obj)
    except ImproperlyConfigured:
        return ImproperlyConfigured


def compare(field, request, format, values):
    """The compiled URLs that answer, all equal to DRF's; how many answered."""
    link = compile_link(field, request, format)
    if link is None:
        return 0
    answered = 0
    for value in values:
        url = link.url(value)
        if url is not None:
            assert url == drf_answer(field, value), value
            answered += 1
    return answered


def least_answered(kind, values):
    """How many values a compiled form must answer: the non-negative ints
    (and "abc" where any text goes), or the UUIDs."""
    if kind == "uuids":
        return sum(type(v) is uuid.UUID for v in values)
    return sum(type(v) is int and v >= 0 for v in values) + (kind == "all" and "abc" in values)


@pytest.mark.parametrize("request_kind", REQUESTS)
@pytest.mark.parametrize("view_name, lookup_field, values, kind", ROUTES, ids=[r[0] for r in ROUTES])
def test_urls_are_drfs(view_name, lookup_field, values, kind, request_kind):
    request = REQUESTS[request_kind]()
    fmt = "json" if view_name in ("fmt", "refmt", "thing-detail") else None
    for format in {None, fmt}:
        field = field_for(view_name, lookup_field, request, format)
        answered = compare(field, request, format, values)
        if kind is not None:
            assert answered >= least_answered(kind, values)


@pytest.mark.parametrize("script_name", ["/mount", "/a b/ü"])
def test_script_prefix_is_drfs(script_name):
    set_script_prefix(script_name)
    try:
        with override_settings(FORCE_SCRIPT_NAME=script_name):
            for request in (None, Request(factory.get("/x/", SCRIPT_NAME=script_name))):
                for name in ("int", "thing-detail", "spaced:inner-detail"):
                    assert compare(field_for(name, "pk", request, None), request, None, INTS + TEXTS) >= 4
    finally:
        clear_script_prefix()


SCHEMES = [  # (scheme class, request path and headers, view name)
    (versioning.URLPathVersioning, {"version": "v3"}, "ver"),
    (versioning.URLPathVersioning, {"version": "v3"}, "int"),  # no version kwarg: DRF's fallback
    (versioning.NamespaceVersioning, {"version": "v2"}, "item-detail"),
    (versioning.NamespaceVersioning, {"version": "v9"}, "int"),  # no such namespace: DRF's fallback
    (versioning.QueryParameterVersioning, {"version": "2.0", "query": {"version": "2.0", "format": "json"}}, "int"),
    (versioning.HostNameVersioning, {"version": "v1", "host": "v1.example.com"}, "thing-detail"),
    (versioning.AcceptHeaderVersioning, {"version": "1.0"}, "slug"),
]


@pytest.mark.parametrize("scheme, how, view_name", SCHEMES, ids=lambda v: getattr(v, "__name__", None))
def test_versioned_urls_are_drfs(scheme, how, view_name):
    request = Request(factory.get("/x/", how.get("query", {}), HTTP_HOST=how.get("host", "testserver")))
    request.version, request.versioning_scheme = how["version"], scheme()
    assert compare(field_for(view_name, "pk", request, None), request, None, INTS + TEXTS + UUIDS) >= 4


def test_field_format_and_declined_fields():
    request = Request(factory.get("/x/"))
    # The field's own format wins over the context's one.
    assert compare(field_for("fmt", "pk", request, "api", field_format="json"), request, "api", INTS) >= 4
    # A field whose reverse is not DRF's, or a name that does not reverse: DRF's code.
    field = field_for("int", "pk", request, None)
    field.reverse = lambda *args, **kwargs: "/elsewhere/"
    assert compile_link(field, request, None) is None
    assert compile_link(field_for("nowhere", "pk", request, None), request, None) is None


def test_hyperlink_is_drfs():
    obj = SimpleNamespace(pk=3)
    ours, drfs = hyperlink("http://h/3/", obj), Hyperlink("http://h/3/", obj)
    assert (type(ours), ours, ours.obj, ours.is_hyperlink) == (type(drfs), drfs, drfs.obj, True)
    assert ours.__getnewargs__.__func__ is drfs.__getnewargs__.__func__

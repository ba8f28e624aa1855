"""Serializers with the fields real APIs declare (dotted sources, method
fields, string and slug relations, reverse relations, nested serializers,
hyperlinks) on DRF's ModelSerializer and on zembra.rest's: the same .data
(types included) and the same rendered bytes, for lists read from query sets
of every shape and for single objects."""

import datetime as dt
import decimal
import uuid

import pytest
from django.db import transaction
from django.test import RequestFactory
from django.test.utils import override_settings
from django.urls import include, path
from rest_framework import renderers, serializers, viewsets
from rest_framework.routers import SimpleRouter

import zembra.rest
from django_tests.testapp.models import Article, Author, Label, Reply, Ticket

BASES = {"drf": (serializers.ModelSerializer, serializers.HyperlinkedModelSerializer),
         "ours": (zembra.rest.ModelSerializer, zembra.rest.HyperlinkedModelSerializer)}


class Upper(serializers.Field):
    """A field of the project's own."""

    def to_representation(self, value):
        return value.upper()


def declare(side):
    model_base, link_base = BASES[side]

    def make(name, model, fields, base=model_base, **meta):
        meta = {"model": model, "fields": [*fields], **meta}
        attrs = {"Meta": type("Meta", (), meta), **{k: v for k, v in fields.items() if v is not None}}
        return type(f"{side}_{name}", (base,), attrs)

    R = serializers
    article = make("article", Article, {"id": None, "title": None, "price": None, "happens": None, "author": None})
    ticket_plain = make("ticket_plain", Ticket, {"id": None, "note": None})
    found = {
        "dotted": make("dotted", Ticket, {
            "id": None, "note": None,
            "title": R.ReadOnlyField(source="article.title"),
            "price": R.CharField(source="article.price", read_only=True),
            "happens": R.DateTimeField(source="article.happens", read_only=True),
            "key": R.UUIDField(source="article.key", read_only=True),
            "author_name": R.ReadOnlyField(source="article.author.name"),
            "author_key": R.IntegerField(source="article.author_id", read_only=True),
            "maybe": R.CharField(source="article.author.name", read_only=True, allow_null=True),
            "views": R.IntegerField(source="article.views", read_only=True),
        }),
        "relations": make("relations", Ticket, {
            "id": None,
            "article": R.SlugRelatedField(slug_field="slug", read_only=True),
            "watchers": R.SlugRelatedField(many=True, slug_field="name", read_only=True),
            "headline": R.StringRelatedField(source="article"),
            "watcher_names": R.StringRelatedField(source="watchers", many=True),
            "note": Upper(),
        }),
        "methods": make("methods", Ticket, {
            "id": None, "note": None, "article": None,
            "summary": R.SerializerMethodField(),
            "length": R.SerializerMethodField(method_name="note_length"),
        }),
        "reverse": make("reverse", Article, {
            "id": None, "title": None,
            "ticket_set": R.PrimaryKeyRelatedField(many=True, read_only=True),
            "notes": R.SlugRelatedField(source="ticket_set", many=True, slug_field="note", read_only=True),
            "author": R.StringRelatedField(),
            "labels": R.SlugRelatedField(many=True, slug_field="name", read_only=True),
            "author_name": R.CharField(source="author.name", default="nobody", read_only=True),
        }),
        "authors": make("authors", Author, {"id": None, "name": None,
                                            "article_set": R.PrimaryKeyRelatedField(many=True, read_only=True)}),
        "labels": make("labels", Label, {"id": None, "article_set": R.PrimaryKeyRelatedField(many=True, read_only=True)}),
        "nested": make("nested", Ticket, {"id": None, "note": None, "article": article(read_only=True)}),
        "nested_many": make("nested_many", Article, {"id": None, "ticket_set": ticket_plain(many=True, read_only=True)}),
        "replies": make("replies", Reply, {"id": None, "ticket": R.SlugRelatedField(slug_field="note", read_only=True),
                                           "article": R.ReadOnlyField(source="ticket.article.slug")}),
        "links": make("links", Article, {"url": None, "title": None, "author": None, "labels": None},
                      base=link_base, extra_kwargs={"url": {"view_name": "fields-article-detail"},
                                                    "author": {"view_name": "fields-author-detail"},
                                                    "labels": {"view_name": "fields-label-detail"}}),
    }
    found["methods"].get_summary = lambda self, obj: f"{obj.note}:{obj.article_id}"
    found["methods"].note_length = lambda self, obj: len(obj.note)
    return found


SERIALIZERS = {side: declare(side) for side in BASES}
QUERYSETS = {
    "dotted": [lambda: Ticket.objects.order_by("note"), lambda: Ticket.objects.select_related("article__author"),
               lambda: Ticket.objects.order_by("-note")[1:3]],
    "relations": [lambda: Ticket.objects.order_by("note"), lambda: Ticket.objects.prefetch_related("watchers"),
                  lambda: Ticket.objects.select_related("article").order_by("note")],
    "methods": [lambda: Ticket.objects.order_by("note")],
    "reverse": [lambda: Article.objects.order_by("pk"), lambda: Article.objects.prefetch_related("ticket_set", "labels"),
                lambda: Article.objects.select_related("author").order_by("-pk")],
    "authors": [lambda: Author.objects.order_by("pk")],
    "labels": [lambda: Label.objects.all()],
    "nested": [lambda: Ticket.objects.order_by("note"), lambda: Ticket.objects.select_related("article")],
    "nested_many": [lambda: Article.objects.order_by("pk"), lambda: Article.objects.prefetch_related("ticket_set")],
    "replies": [lambda: Reply.objects.order_by("pk"), lambda: Reply.objects.select_related("ticket__article")],
    "links": [lambda: Article.objects.order_by("pk"), lambda: Article.objects.prefetch_related("labels")],
}
CASES = [(name, i) for name, makers in QUERYSETS.items() for i in range(len(makers))]

router = SimpleRouter()
for model in (Article, Author, Label):
    router.register(model.__name__.lower(), type(f"{model.__name__}Views", (viewsets.ReadOnlyModelViewSet,), {
        "queryset": model.objects.all(), "serializer_class": SERIALIZERS["drf"]["authors"]}),
        basename=f"fields-{model.__name__.lower()}")
urlpatterns = [path("api/", include(router.urls))]


def typed(value):
    """The value with every type spelled out (str and its subclasses, UUID
    objects and their text differ here)."""
    if isinstance(value, dict):
        return {key: typed(item) for key, item in value.items()}
    if isinstance(value, list):
        return [typed(item) for item in value]
    return (type(value).__name__, value)


@pytest.fixture
def world(db):
    with override_settings(ROOT_URLCONF=__name__, ALLOWED_HOSTS=["testserver"]), transaction.atomic():
        authors = [Author.objects.create(name=n) for n in ("Ada", "Grace", "Linus")]
        labels = [Label.objects.create(name=n) for n in ("red", "blue")]
        now = dt.datetime(2024, 6, 1, 12, 30, 15, 123456, tzinfo=dt.timezone.utc)
        articles = [Article.objects.create(title=t, slug=f"s{i}", price=decimal.Decimal(p), author=a, happens=h,
                                           views=i * 7)
                    for i, (t, p, a, h) in enumerate([("One", "9.90", authors[0], now), ("Two", "0.00", None, None),
                                                      ("Three", "-1.50", authors[1], now), ("Four", "1.00", None, now)])]
        articles[0].labels.set(labels)
        articles[2].labels.set([labels[1]])
        tickets = [Ticket.objects.create(id=uuid.UUID(int=n + 1), article=articles[n % 4], note=f"n{n}")
                   for n in (3, 1, 2, 0, 5)]
        tickets[0].watchers.set(authors[:2])
        tickets[3].watchers.set([authors[2]])
        for ticket in tickets[:3]:
            reply = Reply.objects.create(ticket=ticket)
            reply.tickets.set(tickets[1:])
        yield
        transaction.set_rollback(True)


def answers(name, data, many, request):
    out = []
    for side in BASES:
        serializer = SERIALIZERS[side][name](data() if many else data, many=many, context={"request": request})
        result = serializer.data
        out.append((typed(result), renderers.JSONRenderer().render(result)))
    return out


@pytest.mark.parametrize("name, which", CASES)
def test_lists_and_objects_agree(world, name, which):
    request = RequestFactory().get("/api/")
    make = QUERYSETS[name][which]
    drf, ours = answers(name, make, True, request)
    assert ours == drf
    for instance in list(make())[:2]:
        assert answers(name, instance, False, request)[1] == answers(name, instance, False, request)[0]


@pytest.mark.parametrize("name, native", [
    ("dotted", ["id", "note", "title", "price", "happens", "key", "author_name", "author_key", "maybe", "views"]),
    ("relations", ["id", "article", "watchers", "headline"]),
    ("methods", ["id", "note", "article"]),
    ("reverse", ["id", "title", "ticket_set", "notes", "author", "labels"]),
    ("replies", ["id", "ticket", "article"]),
])
def test_these_fields_stay_native(name, native):
    routes = zembra.rest.explain(SERIALIZERS["ours"][name])
    assert [line.split(":")[0].strip() for line in routes.splitlines()[1:] if ": native" in line][:len(native)] \
        == native, routes


class CurrentAuthor:
    """A default of the project's own that reads the request, as
    CurrentUserDefault does."""

    requires_context = True

    def __call__(self, field):
        return Author.objects.get(name=field.context["request"].author_name)


def writers(side):
    model_base = BASES[side][0]
    return type(f"{side}_writer", (model_base,), {
        "Meta": type("Meta", (), {"model": Ticket, "fields": ["id", "note", "article", "watchers", "author_name",
                                                              "maker", "summary"]}),
        "author_name": serializers.ReadOnlyField(source="article.author.name"),
        "maker": serializers.HiddenField(default=CurrentAuthor()),
        "summary": serializers.SerializerMethodField(),
        "get_summary": lambda self, obj: obj.note.upper(),
        "create": lambda self, data: (data.pop("maker"), model_base.create(self, data))[1],
    })


WRITERS = {side: writers(side) for side in BASES}


@pytest.mark.parametrize("body", [
    {"note": "new", "article": 1, "watchers": [1, 2]},
    {"note": "x" * 11, "article": 99, "watchers": []},
    {"note": "new", "article": 2, "watchers": [3], "author_name": "ignored", "maker": 1},
    {"article": "one"},
])
def test_input_with_hidden_defaults_and_read_only_fields(world, body):
    request = RequestFactory().post("/api/")
    request.author_name = "Grace"
    articles = list(Article.objects.order_by("pk"))
    authors = list(Author.objects.order_by("pk"))
    body = {**body, "article": articles[body["article"] - 1].pk if body.get("article") in (1, 2) else body.get("article")}
    if "watchers" in body:
        body["watchers"] = [authors[n - 1].pk if n <= 3 else n for n in body["watchers"]]
    answers = []
    for side in BASES:
        with transaction.atomic():
            serializer = WRITERS[side](data=body, context={"request": request})
            valid = serializer.is_valid()
            answer = [valid, typed(dict(serializer.errors))]
            if valid:
                answer.append(repr(sorted(serializer.validated_data.items(), key=str)))
                saved = serializer.save(id=uuid.UUID(int=99))
                answer.append(typed(dict(serializer.data)))
                answer.append(sorted(w.name for w in saved.watchers.all()))
            transaction.set_rollback(True)
        answers.append(answer)
    assert answers[1] == answers[0]


def test_hyperlinks_of_a_list_come_from_the_compiled_pattern(world):
    serializer = SERIALIZERS["ours"]["links"](Article.objects.all(), many=True,
                                              context={"request": RequestFactory().get("/api/")})
    child = serializer.child
    calls = child._calls(child._zembra(), links=True)
    assert calls[0][:2] == ("http://testserver/api/article/", "/") and calls[0][3] == "id"
    assert [call.__qualname__.rsplit(".", 1)[-1] for call in calls[1:]] == ["related", "every"]


@pytest.mark.parametrize("spec_of, related, query_name", [
    (lambda: Article._meta.get_field("labels"), Label, "article"),
    (lambda: None, Ticket, "article"),  # UUID values: read by Django's query
])
def test_keys_of_a_list_are_read_by_djangos_own_statement(world, spec_of, related, query_name):
    """The compiled statement is Django's for the same keys (and the same pairs)."""
    from django.db import connection
    from django.test.utils import CaptureQueriesContext

    from zembra import _layer

    relation = spec_of()
    item = related._meta.get_field("name") if related is Label else related._meta.pk
    spec = type("Spec", (), {"related_model": related, "query_name": query_name, "to_field": item,
                             "model_field": relation})()
    pks = list(Article.objects.values_list("pk", flat=True))
    with CaptureQueriesContext(connection) as ours:
        grouped = _layer._many_keys(spec, pks, "default")
    with CaptureQueriesContext(connection) as django:
        pairs = list(related.objects.filter(**{f"{query_name}__in": pks}).values_list(query_name, item.attname))
    assert [q["sql"] for q in ours] == [q["sql"] for q in django]
    assert grouped == {key: [v for k, v in pairs if k == key] for key, _ in pairs}


def test_classes_with_fields_of_python_code_say_so_once(caplog):
    caplog.set_level("INFO", logger="zembra.rest")
    made = declare("ours")["methods"]
    zembra.rest.explain(made)
    zembra.rest.explain(made)
    records = [r.getMessage() for r in caplog.records if r.name == "zembra.rest"]
    assert records == ["ours_methods: fields written per object by Python code: summary, length "
                       "(zembra.rest.explain() says why)"]

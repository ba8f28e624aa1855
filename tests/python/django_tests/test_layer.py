"""zembra.django.ModelResource against DRF's ModelSerializer for the same
model and options: the fields and their flags, the output values, the
validated input and the reported fields and codes; the query set route
against instances; saving; bad input."""

import datetime as dt
import json

import pytest
from django.apps import apps
from django.core.exceptions import ImproperlyConfigured
from django.db import connection, transaction
from hypothesis import HealthCheck, given, settings, strategies as st
from rest_framework import serializers

import zembra
import zembra.rest
from django_tests.test_rest_agreement import (  # noqa: F401 (fixture)
    ASSIGNED, SERIALIZERS, answer_of, invalid_bodies, valid_bodies, world)
from django_tests.testapp.models import Article, Everything, PairRef, Precise, Ticket
from leakcheck import assert_no_leak
from zembra.django import ModelResource

OPTIONS = [{}, {"fields": ["title", "labels", "author", "id", "created"]}, {"exclude": ["body", "labels"]},
           {"read_only": ["slug", "author"]}]


def drf_serializer(model, fields=None, exclude=None, read_only=()):
    meta = {"model": model, "read_only_fields": list(read_only)}
    meta.update({"exclude": exclude} if exclude is not None else {"fields": fields or "__all__"})
    return type("S", (serializers.ModelSerializer,), {"Meta": type("Meta", (), meta)})


MODELS = sorted(apps.get_app_config("testapp").get_models(), key=lambda model: model.__name__)


@pytest.mark.parametrize("model, options", [(Article, options) for options in OPTIONS[1:]] +
                         [(model, {}) for model in MODELS], ids=str)
def test_fields_and_flags_are_drfs(model, options):
    if model is Everything:
        options = {"exclude": ["attachment"]}  # DRF writes file fields as URLs
    if model is PairRef:
        with pytest.raises(ImproperlyConfigured, match="several columns"):
            ModelResource(model)
        options = {"exclude": ["pair"]}
    resource = ModelResource(model, **options)
    drf = drf_serializer(model, **options)().fields
    assert [f.name for f in resource.fields] == list(drf)
    for spec in resource.fields:
        field = drf[spec.name]
        if spec.kind == "file":
            assert spec.read_only  # uploads do not come as JSON
            continue
        assert spec.read_only == field.read_only, spec.name
        if spec.plan is not None:
            assert spec.plan["required"] == field.required, spec.name
            assert spec.plan["allow_null"] == field.allow_null, spec.name


@pytest.mark.parametrize("options, name", [
    ({"fields": ["title", "nope"]}, "'nope' (in fields=)"), ({"exclude": ["nope"]}, "'nope' (in exclude=)"),
    ({"read_only": ["x", "y"]}, "'x', 'y' (in read_only=)"), ({"fields": ["tickets"]}, "'tickets' (in fields=)"),
    ({"fields": ["title", "ticket"]}, "'ticket' (in fields=) is a reverse relation, which ModelResource does not"),
    ({"exclude": ["ticket"]}, "'ticket' (in exclude=) is a reverse relation"),
    ({"fields": ["title"], "exclude": ["title"]}, "not both"), ({"fields": "title"}, "list of names"),
])
def test_unknown_names_are_named(options, name):
    with pytest.raises(ImproperlyConfigured, match=name.replace("(", r"\(").replace(")", r"\)")):
        ModelResource(Article, **options)


def canonical(value):
    """JSON values with datetimes as instants and times as times, so the
    text forms of the two libraries compare by what they say."""
    if isinstance(value, dict):
        return {k: canonical(v) for k, v in value.items()}
    if isinstance(value, list):
        return [canonical(v) for v in value]
    if isinstance(value, str) and len(value) >= 19 and value[10:11] == "T" and value[4] == "-":
        return dt.datetime.fromisoformat(value.replace("Z", "+00:00"))
    if isinstance(value, str) and len(value) >= 8 and value[2:3] == ":" and value[5:6] == ":":
        return dt.time.fromisoformat(value)
    return value


def test_output_is_drfs(world):
    resource = ModelResource(Article, exclude=["cover"])
    drf = drf_serializer(Article, exclude=["cover"])
    articles = list(Article.objects.order_by("pk").prefetch_related("labels"))
    expected = canonical(json.loads(json.dumps(drf(articles, many=True).data)))
    assert canonical(resource.dump_many(articles)) == expected
    assert canonical(json.loads(resource.dump_many_json(articles))) == expected
    queryset = Article.objects.order_by("pk")
    assert resource.serialize_queryset(queryset) == resource.dump_many(articles)
    assert resource.serialize_queryset_json(queryset) == resource.dump_many_json(articles)
    assert resource.dump_json(articles[0]) == zembra.encode_json(resource.dump(articles[0]))
    tickets = ModelResource(Ticket)
    assert tickets.serialize_queryset(Ticket.objects.all()) == [
        {"id": str(world["ticket"].pk), "note": "one", "article": articles[0].pk,
         "watchers": sorted(a.pk for a in world["authors"])}]


def test_text_forms(world):
    row = ModelResource(Article, fields=["span", "ip", "cover", "price", "happens", "starts", "extra"]).dump(
        world["articles"][0])
    assert row == {"span": "-1 00:00:05.000007", "ip": "10.0.0.1", "cover": None, "price": "9.90",
                   "happens": "2024-06-01T12:30:15.123456+00:00", "starts": "08:15:00.250",
                   "extra": {"z": [1, 2.5, None, {"deep": "é😀"}], "a": True}}
    assert ModelResource(Article, fields=["cover"]).dump(world["articles"][2]) == {"cover": "covers/a.png"}


def test_many_to_many_needs_a_prefetch_or_permission(world):
    article = Article.objects.get(pk=world["articles"][1].pk)
    with pytest.raises(ValueError, match="field 'labels' was not prefetched.*prefetch_related\\('labels'\\)"):
        ModelResource(Article).dump(article)
    allowed = ModelResource(Article, fields=["labels"], allow_m2m_queries=True)
    assert allowed.dump(article) == {"labels": [label.pk for label in world["labels"]]}
    assert allowed.dump(Article(title="unsaved")) == {"labels": []}


def test_queryset_route_refuses_other_query_sets(world):
    resource = ModelResource(Article)
    for bad in (Ticket.objects.all(), Article.objects.values("pk"), list(Article.objects.all())):
        with pytest.raises(TypeError):
            resource.serialize_queryset(bad)


def without_instances(values):
    return {k: (v.pk if hasattr(v, "pk") else [i.pk for i in v] if isinstance(v, list) else v)
            for k, v in values.items()}


def test_input_agrees_with_drf(world):
    resource = ModelResource(Article)
    drf = drf_serializer(Article)
    for body in valid_bodies(world):
        serializer = drf(data=body)
        assert serializer.is_valid(), serializer.errors
        values, report = resource.load(json.dumps(body).encode())
        assert report is None, (body, report)
        assert without_instances(values) == without_instances(dict(serializer.validated_data)), body
    for body in invalid_bodies(world):
        serializer = drf(data=body)
        assert not serializer.is_valid()
        values, errors = resource.load_errors(body)
        expected = {name: [e.code for e in found] for name, found in serializer.errors.items()}
        assert {name: [code for _, code in found] for name, found in errors.items()} == expected, body


def test_partial_updates_and_unknown_keys(world):
    resource = ModelResource(Article)
    article = world["articles"][0]
    assert resource.load({"slug": "first"}, partial=True, instance=article) == ({"slug": "first"}, None)
    values, report = resource.load({"slug": "first"}, partial=True)
    assert report["errors"] == [{"field": "slug", "message": "article with this slug already exists.",
                                 "code": "unique", "params": {}}]
    values, report = resource.load(b'{"title": "t", "id": 5, "what": 1}', partial=True, unknown="reject")
    assert [(e["field"], e["code"]) for e in report["errors"]] == [("non_field_errors", "unknown_field")]
    assert resource.load(b'{"title": "t", "id": 5}', partial=True, unknown="reject") == ({"title": "t"}, None)


def test_save_creates_and_updates(world):
    resource = ModelResource(Article)
    labels = world["labels"]
    values, _ = resource.load({"title": "Made", "slug": "made", "price": "2", "labels": [labels[1].pk]})
    with transaction.atomic():
        article = resource.save(values)
        assert list(article.labels.values_list("pk", flat=True)) == [labels[1].pk]
        values, _ = resource.load({"labels": [], "price": "3.333"}, partial=True, instance=article)
        assert values is None
        values, _ = resource.load({"labels": [], "title": "Changed"}, partial=True, instance=article)
        resource.save(values, instance=article)
        article.refresh_from_db()
        assert (article.title, article.labels.count()) == ("Changed", 0)
        transaction.set_rollback(True)


json_bodies = st.recursive(st.none() | st.booleans() | st.integers() | st.floats() | st.text(max_size=8),
                           lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=6), inner,
                                                                                        max_size=3), max_leaves=8)
article_bodies = st.fixed_dictionaries({}, optional={
    name: json_bodies for name in ["title", "slug", "price", "views", "happens", "labels", "author", "extra", "span"]})


@settings(max_examples=60, suppress_health_check=[HealthCheck.function_scoped_fixture], deadline=None)
@given(body=article_bodies | json_bodies, partial=st.booleans())
def test_random_bodies_give_values_or_a_report(db, body, partial):
    values, report = ModelResource(Article).load(json.dumps(body).encode(), partial=partial)
    assert (values is None) != (report is None)
    if report is not None:
        assert report["is_valid"] is False and report["error_count"] == len(report["errors"]) > 0


def test_no_leaks(world):
    resource = ModelResource(Article, fields=["title", "price", "happens", "span", "labels", "active"])
    articles = list(Article.objects.prefetch_related("labels"))
    assigned = Article.objects.prefetch_related("labels").get(pk=articles[0].pk)
    assigned.active, assigned.price, assigned.happens = "no", 1, ""  # written through represent callables

    def call():
        resource.dump_many_json(articles), resource.dump(articles[0])
        resource.dump_json(assigned), resource.dump(assigned)
        resource.load(b'{"title": "x", "price": "x"}')

    assert_no_leak(call, articles[0], per_round=300)


def test_no_leaks_in_the_drf_drop_in(world):
    serializer = SERIALIZERS["articles"][1]
    articles = list(Article.objects.prefetch_related("labels"))
    good, bad = valid_bodies(world)[1], invalid_bodies(world)[9]
    renderer = zembra.rest.JSONRenderer()

    def call():
        renderer.render(serializer(articles, many=True).data)
        for body in (good, bad):
            checked = serializer(data=body)
            checked.is_valid()
            checked.errors

    assert_no_leak(call, articles[0], good, per_round=300)


@pytest.mark.database("postgresql")
def test_postgresql_values_come_back_the_same(world):
    # Intervals, inet and bytea come back from psycopg as Python objects of
    # their own; the rows route and the instances agree on their text.
    resource = ModelResource(Article, fields=["span", "ip", "happens", "extra"])
    assert connection.vendor == "postgresql"
    rows = resource.serialize_queryset(Article.objects.order_by("pk"))
    assert rows == resource.dump_many(list(Article.objects.order_by("pk")))
    assert rows[0]["span"] == "-1 00:00:05.000007" and rows[1]["ip"] == "2001:db8::1"



@pytest.mark.parametrize("shape", ["all", "filtered", "sliced", "empty", "none", "annotated", "distinct", "reversed"])
def test_cursor_rows_and_values_list_rows_agree(world, shape):
    """The rows read from the cursor (raw values cooked natively) and the
    values_list() rows give the same output; where the cursor route does not
    know a column or a query (annotations), it is not taken."""
    from django.db.models import F

    from zembra._layer import _cursor_rows, query_rows

    queryset = {
        "all": Article.objects.order_by("pk"), "filtered": Article.objects.filter(views__lt=10).order_by("-pk"),
        "sliced": Article.objects.order_by("pk")[1:3], "empty": Article.objects.filter(pk__in=[]),
        "none": Article.objects.none(), "annotated": Article.objects.annotate(twice=F("views") * 2).order_by("pk"),
        "distinct": Article.objects.distinct().order_by("pk"), "reversed": Article.objects.order_by("-slug"),
    }[shape]
    for options in ({"exclude": ["span", "doubled"]}, {}, {"fields": ["id", "labels", "extra", "price", "key"]}):
        resource = ModelResource(Article, **options)
        expected = resource.layout.rows(query_rows(Article, queryset, resource.fields))
        assert resource.serialize_queryset(queryset) == expected
        assert resource.serialize_queryset_json(queryset) == resource.layout.rows_json(
            query_rows(Article, queryset, resource.fields))
    cursor = _cursor_rows(Article, queryset, ModelResource(Article, exclude=["span", "doubled"]).fields)
    assert (cursor is None) == (shape == "annotated")


@pytest.mark.parametrize("name, value", [(n, v) for n, v in ASSIGNED
                                         if n in ("active", "published", "starts", "happens", "key", "price", "doubled")],
                         ids=repr)
def test_assigned_attributes_are_written_as_drf_writes_them(world, name, value):
    article = Article.objects.get(pk=world["articles"][0].pk)
    setattr(article, name, value)
    expected = answer_of(lambda: drf_serializer(Article, fields=[name])(article).data[name])
    resource = ModelResource(Article, fields=[name])
    assert answer_of(lambda: resource.dump(article)[name]) == expected
    if expected[0] == "ok":
        assert json.loads(resource.dump_json(article)) == {name: expected[1]}


@pytest.mark.parametrize("fine, huge", [("1.234567890123456789012345678912", str(2**96)),
                                        ("-0.000000000000000000000000000001", "9" * 38)])
def test_decimals_past_96_bits_and_28_places(db, fine, huge):
    with transaction.atomic():
        Precise.objects.create(fine=fine, huge=huge)
        resource = ModelResource(Precise, exclude=["id"])
        instances = answer_of(lambda: list(Precise.objects.all()))
        if instances[0] == "ok":  # SQLite keeps such numbers as floats, which Django may refuse
            expected = dict(drf_serializer(Precise, exclude=["id"])(instances[1][0]).data)
            assert expected == {"fine": fine, "huge": huge} or db.vendor == "sqlite"
            assert resource.dump(instances[1][0]) == expected
            assert resource.serialize_queryset(Precise.objects.all()) == [expected]
        transaction.set_rollback(True)


# -- database rules, keys the parser cannot read, request charsets -----------

MOMENT = dt.datetime(2024, 5, 1, 10, 0, tzinfo=dt.timezone.utc)


@pytest.fixture
def rows(db):
    from django_tests.testapp.models import Coupon, Moment, Place, Shop

    with transaction.atomic():
        Place.objects.create(slug="plain")  # a parent row with no child
        Shop.objects.create(slug="shop")
        Coupon.objects.create(code="taken", ref="xone")
        Coupon.objects.create(code="z", ref="yone")
        Moment.objects.create(at=MOMENT)
        yield
        transaction.set_rollback(True)


DATABASE_RULE_BODIES = [
    ("Shop", {"slug": "plain"}), ("Shop", {"slug": "shop"}), ("Shop", {"slug": "new"}), ("Place", {"slug": "shop"}),
    ("Coupon", {"code": "taken"}), ("Coupon", {"code": "new", "ref": "xone"}), ("Coupon", {"code": "n", "ref": "yone"}),
    ("Coupon", {"code": "taken", "ref": "xone"}),
    ("Reading", {"moment": "2024-05-01T10:00:00Z", "moments": ["2024-05-01T10:00:00+00:00"]}),
    ("Reading", {"moment": "2024-05-01T11:00:00Z", "moments": []}), ("Reading", {"moment": "soon", "moments": []}),
    ("Reading", {"moment": 5, "moments": [True]}), ("Reading", {"moment": True, "moments": "x"}),
    ("Reading", {"moment": "", "moments": {"2024-05-01T10:00:00Z": 1}}), ("Reading", {"moment": None, "moments": 3}),
    ("Reading", {"moment": [1], "moments": ["2024-05-01T10:00:00Z", "2023-01-01T00:00:00Z"]}),
    ("Reading", {"moments": [None]}), ("Reading", {"moments": None}), ("Reading", {}),
]


@pytest.mark.parametrize("model_name, body", DATABASE_RULE_BODIES, ids=repr)
def test_database_rules_and_any_keys_agree_with_drf(rows, model_name, body):
    model = apps.get_model("testapp", model_name)
    serializer = drf_serializer(model)(data=body)
    values, errors = ModelResource(model).load_errors(json.dumps(body).encode())
    if serializer.is_valid():
        assert errors is None
        assert without_instances(values) == without_instances(dict(serializer.validated_data))
    else:
        expected = {name: [(str(e), e.code) for e in found] for name, found in serializer.errors.items()}
        assert errors == expected


def test_unique_rules_keep_the_save_from_failing_as_full_clean_does(rows):
    from django_tests.testapp.models import Coupon, Shop

    for model, body in ((Shop, {"slug": "plain"}), (Coupon, {"code": "taken"})):
        with pytest.raises(Exception) as django_says:
            model(**body).full_clean()
        values, errors = ModelResource(model).load_errors(body)
        # The same model named (Django's message is capitalised, DRF's is not).
        assert [m.lower() for m, _ in errors[next(iter(body))]] == [
            m.lower() for m in django_says.value.message_dict[next(iter(body))]]
    # An update leaves the instance itself out.
    shop = Shop.objects.get(slug="shop")
    assert ModelResource(Shop).load_errors({"slug": "shop"}, partial=True, instance=shop)[1] is None


def test_values_rows_are_refused_for_to_many_fields_and_read_otherwise(world):
    articles = list(Article.objects.order_by("pk").prefetch_related("labels"))
    rows = list(Article.objects.order_by("pk").values())
    with_labels = ModelResource(Article, fields=["id", "title", "labels"], allow_m2m_queries=True)
    for call, given in ((with_labels.dump, rows[0]), (with_labels.dump_json, rows[0]), (with_labels.dump_many, rows),
                        (with_labels.dump_many_json, rows)):
        with pytest.raises(TypeError, match="field 'labels' is a to-many relation"):
            call(given)
    plain = ModelResource(Article, fields=["id", "title", "author", "price", "happens"])
    assert plain.dump_many(rows) == plain.dump_many(articles)
    assert plain.dump_many_json(rows) == plain.dump_many_json(articles)


@pytest.mark.parametrize("body, field, params", [
    (b'{"title": "New", "slug": "new", "price": "1.5"', None, None),
    (b'[1]', None, None),
    (b'{"title": "' + b"x" * 41 + b'", "slug": "new", "price": "1.5"}', "title", {"max_length": "40"}),
    (b'{"title": "t", "slug": "new", "price": "1.5", "views": 1000001}', "views", {"max_value": "1000000"}),
    (b'{"title": "t", "slug": "new", "price": "1.5", "ratio": -1}', "ratio", {"min_value": "0.0"}),
    (b'{"title": "t", "slug": "new", "price": "1.234"}', "price", {"max_decimal_places": "2"}),
    (b'{"title": "t", "slug": "new", "price": "12345.678"}', "price", {"max_digits": "7"}),
    (b'{"title": "t", "slug": "new", "price": "123456"}', "price", {"max_whole_digits": "5"}),
    (b'{"title": "t", "slug": "new", "price": "1", "wat": 1}', "non_field_errors", {}),
], ids=repr)
def test_reports_count_what_was_read_and_name_their_limits(db, body, field, params):
    resource = ModelResource(Article)
    writable = sum(1 for f in resource.fields if not f.read_only)
    _, report = resource.load(body, unknown="reject")
    assert report["error_count"] == len(report["errors"]) == 1
    entry = report["errors"][0]
    if field is None:  # the body was not read: no field counts as valid
        assert (entry["field"], report["valid_count"]) == ("non_field_errors", 0)
        return
    assert entry["field"] == field and entry["params"] == params
    assert all(value in entry["message"] for value in params.values())
    assert report["valid_count"] == writable - (field != "non_field_errors")


CHARSET_BODIES = [
    ("latin-1", '{"title": "Café", "slug": "cafe", "price": "1"}'.encode("latin-1")),
    ("ascii", '{"title": "Café", "slug": "cafe", "price": "1"}'.encode("latin-1")),
    ("utf-16", '{"title": "Café ☕", "slug": "cafe", "price": "1"}'.encode("utf-16")),
    ("cp1252", b'{"title": "Caf\x81", "slug": "cafe", "price": "1"}'),
    ("utf-8", '{"title": "Café", "slug": "cafe", "price": "1"}'.encode("latin-1")),
    ("no-such-charset", '{"title": "Café", "slug": "cafe", "price": "1"}'.encode()),
    (None, '{"title": "Café", "slug": "cafe", "price": "1"}'.encode()),
]


@pytest.mark.parametrize("charset, raw", CHARSET_BODIES, ids=repr)
def test_request_bodies_are_read_in_their_charset_as_drf_reads_them(db, charset, raw):
    from django.test import RequestFactory
    from rest_framework.exceptions import ParseError
    from rest_framework.parsers import JSONParser
    from rest_framework.request import Request

    content_type = "application/json" + (f"; charset={charset}" if charset else "")
    request = RequestFactory().generic("POST", "/", raw, content_type)
    try:
        data = Request(request, parsers=[JSONParser()]).data
    except ParseError as error:
        expected = (None, {"non_field_errors": [(str(error.detail), "parse_error")]})
    else:
        serializer = drf_serializer(Article)(data=data)
        assert serializer.is_valid(), serializer.errors
        expected = (without_instances(dict(serializer.validated_data)), None)
    given = [(RequestFactory().generic("POST", "/", raw, content_type), None),
             (Request(RequestFactory().generic("POST", "/", raw, content_type)), None)]
    if charset not in (None, "no-such-charset"):
        given.append((raw, charset))  # bytes with the charset named
    for body, encoding in given:
        values, errors = ModelResource(Article).load_errors(body, encoding=encoding)
        assert (values and without_instances(values), errors) == expected

"""The compiled unique and related-key queries of zembra.rest against the
query sets DRF builds for them: the same answers, the same single SQL
statement, and DRF's own route wherever the plain case does not hold."""

import uuid

import pytest
from django.db import models, transaction
from django.db.models import Q
from django.test.utils import CaptureQueriesContext
from hypothesis import HealthCheck, given, settings, strategies as st
from rest_framework import serializers
from rest_framework.validators import UniqueValidator, qs_exists, qs_filter

import zembra._compiled_queries
import zembra.rest
from zembra._compiled_queries import RelatedQuery, UniqueQuery
from django_tests.testapp.models import Article, Author, Everything, Ticket

SLUGS = ["first", "second", "ünï", "x" * 50]


@pytest.fixture
def rows(db):
    with transaction.atomic():
        authors = [Author.objects.create(name=n) for n in ("Ada", "Grace")]
        articles = [Article.objects.create(title="t", slug=s, price="1", author=authors[0]) for s in SLUGS]
        Ticket.objects.create(id=uuid.UUID(int=77), article=articles[0], note="n")
        yield {"authors": authors, "articles": articles}
        transaction.set_rollback(True)


def unique_query(model, name):
    field = model._meta.get_field(name)
    return UniqueQuery(UniqueValidator(queryset=model._default_manager), field)


def one_query(db, call):
    with CaptureQueriesContext(db) as queries:
        result = call()
    return result, [q["sql"] for q in queries.captured_queries]


@settings(max_examples=60, suppress_health_check=[HealthCheck.function_scoped_fixture], deadline=None)
@given(value=st.sampled_from(SLUGS + ["FIRST", "first ", ""]) | st.text(max_size=8))
def test_unique_answers_and_sql_are_drfs(db, rows, value):
    query = unique_query(Article, "slug")
    found, sql = one_query(db, lambda: query.exists(value))
    expected, drf_sql = one_query(db, lambda: qs_exists(qs_filter(Article._default_manager, slug__exact=value)))
    assert found is expected
    assert sql == drf_sql


@pytest.mark.parametrize("model, name, values", [
    (Ticket, "id", [uuid.UUID(int=77), uuid.UUID(int=78)]),
    (Author, "id", [1, 2, 10 ** 6]),
])
def test_unique_on_keys(db, rows, model, name, values):
    query = unique_query(model, name)
    for value in values:
        assert query.exists(value) is qs_exists(model._default_manager.filter(**{name: value}))
    # A value of another type, or an integer outside the column: DRF's route decides.
    assert query.exists(str(values[0])) is None
    if name == "id" and model is Author:
        assert query.exists(2 ** 70) is None


@pytest.mark.parametrize("model", [Author, Article, Ticket])
def test_related_object_is_querysets(db, rows, model):
    related = RelatedQuery(model._default_manager)
    for instance in model.objects.all():
        (found, sql), (expected, drf_sql) = (one_query(db, call) for call in (
            lambda: related.get(instance.pk), lambda: model._default_manager.all().get(pk=instance.pk)))
        assert sql == drf_sql
        assert type(found) is model and found.pk == expected.pk
        assert found.__dict__.keys() == expected.__dict__.keys()
        assert {k: v for k, v in found.__dict__.items() if k != "_state"} == \
            {k: v for k, v in expected.__dict__.items() if k != "_state"}
        assert (found._state.db, found._state.adding) == (expected._state.db, expected._state.adding)
    missing = uuid.UUID(int=1) if model is Ticket else 10 ** 6
    assert related.get(missing) is False


class Filtered(models.Manager):
    def get_queryset(self):
        return super().get_queryset().filter(name="Ada")


def test_other_query_sets_keep_drfs_route(db, rows):
    filtered = Author._default_manager.filter(Q(name="Ada"))
    custom = Filtered()
    custom.model = Author
    for queryset in (filtered, custom, Author.objects.only("name")):
        assert not RelatedQuery(queryset).usable
        assert not UniqueQuery(UniqueValidator(queryset=queryset), Author._meta.get_field("name")).usable
    # A relation column and a lookup other than exact: DRF's route.
    assert not UniqueQuery(UniqueValidator(queryset=Article._default_manager),
                           Article._meta.get_field("author")).usable
    assert not UniqueQuery(UniqueValidator(queryset=Article._default_manager, lookup="iexact"),
                           Article._meta.get_field("slug")).usable


def test_serializer_limited_choices_agree(db, rows):
    """A relation limited by its queryset's filter is checked by DRF's own route."""
    ada, grace = rows["authors"]
    pair = [type("Limited", (base,), {
        "author": serializers.PrimaryKeyRelatedField(queryset=Author.objects.filter(name="Grace")),
        "Meta": type("Meta", (), {"model": Article, "fields": ["title", "slug", "price", "author"]})})
        for base in (serializers.ModelSerializer, zembra.rest.ModelSerializer)]
    for author, slug in ((ada.pk, "new"), (grace.pk, "new"), (grace.pk, "first")):
        drf, ours = (s(data={"title": "t", "slug": slug, "price": "1", "author": author}) for s in pair)
        assert drf.is_valid() == ours.is_valid()
        assert ours.errors == drf.errors
        if drf.is_valid():
            assert ours.validated_data == drf.validated_data


# -- the compiled INSERT of zembra.rest's create() ----------------------------

NOW = "2024-05-01T10:00:00+00:00"


def insert_values(rows):
    """Values for a new object of each model, as a serializer validates them."""
    import datetime as dt
    import decimal
    author = rows["authors"][0]
    return {
        Author: {"name": "Lin"},
        Article: {"title": "new", "slug": "brand-new", "price": decimal.Decimal("3.50"), "author": author,
                  "happens": dt.datetime.fromisoformat(NOW), "span": dt.timedelta(seconds=90),
                  "extra": {"a": [1, 2]}, "key": uuid.UUID(int=5), "cover": "files/a.txt"},
        Ticket: {"id": uuid.UUID(int=99), "article": rows["articles"][0], "note": "n"},
        Everything: {"title": "t", "body": "b", "count": 1, "big": 2 ** 40, "ratio": 0.5,
                     "price": decimal.Decimal("1.25"), "day": dt.date(2024, 2, 29), "at": dt.time(1, 2, 3),
                     "created": dt.datetime.fromisoformat(NOW), "key": uuid.UUID(int=6), "data": None,
                     "blob": b"\x00\xff", "email": "a@b.co", "site": "https://x.org", "slug": "s",
                     "ip": "::1"},
    }


def saved(db, call, seen):
    """The statements a create sends, the signals it sends and the object's state."""
    seen.clear()
    with CaptureQueriesContext(db) as queries:
        obj = call()
    # An automatic key comes from a sequence (not rolled back on PostgreSQL): set or not.
    automatic = isinstance(type(obj)._meta.pk, models.AutoField)
    state = {k: (v is not None if automatic and k == "id" else v) for k, v in obj.__dict__.items() if k != "_state"}
    sql = [q["sql"] for q in queries.captured_queries]
    return sql, list(seen), state, \
        (obj._state.db, obj._state.adding, obj._state.fetch_mode)


@pytest.fixture
def signals_seen():
    from django.db.models import signals
    seen = []

    def record(signal, sender, instance, **kwargs):
        seen.append((signal is signals.pre_save, sender, instance.pk is None, sorted(kwargs.items())))

    for signal in (signals.pre_save, signals.post_save):
        signal.connect(record, weak=False)
    yield seen
    for signal in (signals.pre_save, signals.post_save):
        signal.disconnect(record)


@pytest.mark.parametrize("model", [Author, Article, Ticket, Everything])
def test_insert_is_the_managers_create(db, rows, signals_seen, monkeypatch, model):
    """The same statement, signals and object state as manager.create(), on a
    fresh compile and on the kept one; an expression value takes Django's route."""
    import datetime as dt
    from django.utils import timezone
    from zembra._compiled_queries import CompiledInsert
    monkeypatch.setattr(timezone, "now", lambda: dt.datetime(2024, 1, 2, 3, 4, 5, 6, tzinfo=dt.timezone.utc))
    values = insert_values(rows)[model]
    insert = CompiledInsert(model)
    if not zembra._compiled_queries._SAVE_STEPS_KNOWN:
        pytest.skip("this Django release saves through manager.create()")
    assert insert.usable
    for _ in range(2):
        for given in (values, {**values, **({"happens": models.Value(timezone.now(), output_field=models.DateTimeField())} if model is Article else {})}):
            results = []
            for call in (lambda: insert.create(dict(given)), lambda: model._default_manager.create(**given)):
                with transaction.atomic():
                    results.append(saved(db, call, signals_seen))
                    transaction.set_rollback(True)
            assert results[0] == results[1]
    assert [compiled is not None for compiled in insert.by_key.values()] == [True]


def test_insert_keeps_djangos_route(db, monkeypatch):
    from zembra._compiled_queries import CompiledInsert
    # A model that saves its own way, and a manager with its own create().
    monkeypatch.setattr(Author, "save", lambda self, *args, **kwargs: None, raising=False)
    assert not CompiledInsert(Author).usable
    monkeypatch.undo()
    creating = type("Creating", (models.Manager,), {"create": lambda self, **kwargs: None})()
    creating.model = Author
    monkeypatch.setattr(Author._meta, "default_manager", creating)
    assert not CompiledInsert(Author).usable

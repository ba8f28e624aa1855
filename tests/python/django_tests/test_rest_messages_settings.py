"""zembra.rest against DRF where the answer depends on more than the body:
the active language and a field's error_messages (the errors' texts), and
settings changed after the serializer was first used (override_settings)."""

import datetime as dt

import pytest
from django.db import transaction
from django.test.utils import override_settings
from django.utils import timezone, translation
from rest_framework import renderers, serializers

import zembra.rest
from zembra.django import ModelResource
from django_tests.testapp.layer_models import Member
from django_tests.testapp.models import Article, Author, Everything, Label

NOW = dt.datetime(2024, 5, 1, 10, 0, 0, 250000, tzinfo=dt.timezone.utc)


def pair(model, **meta):
    meta = {"model": model, **meta}
    if "exclude" not in meta:
        meta.setdefault("fields", "__all__")
    return [type(f"{model.__name__}_{base.__module__.split('.')[0]}", (base,), {"Meta": type("Meta", (), meta)})
            for base in (serializers.ModelSerializer, zembra.rest.ModelSerializer)]


@pytest.fixture
def rows(db):
    with transaction.atomic():
        author = Author.objects.create(name="Ada")
        label = Label.objects.create(name="red")
        Article.objects.create(title="Taken", slug="taken", price="1.00", author=author, happens=NOW,
                               span=dt.timedelta(days=1, seconds=3), starts=dt.time(8, 15, 0, 500),
                               published=dt.date(2024, 5, 1)).labels.set([label])
        Member.objects.create(handle=None, points=None)
        Member.objects.create(handle="", points=4)
        Member.objects.create(handle="taken", points=2)
        Everything.objects.create(title="e", body="b", count=1, big=2 ** 40, ratio=0.5, price="1.50",
                                  day=dt.date(2024, 5, 1), at=dt.time(10), created=NOW, email="a@b.co",
                                  site="http://a.bc", slug="e", span=dt.timedelta(seconds=-1))
        yield {"author": author.pk, "label": label.pk}
        transaction.set_rollback(True)


def answer(serializer):
    with transaction.atomic():
        valid = serializer.is_valid()
        transaction.set_rollback(True)
    # ErrorDetail compares text and code alike.
    return valid, serializer.errors if not valid else serializer.validated_data


MESSAGES = {"title": {"error_messages": {"required": "Give a title!", "max_length": "Shorter, please."}},
            "price": {"error_messages": {"invalid": "Money, please."}},
            "author": {"error_messages": {"does_not_exist": "Nobody {pk_value}."}}}
ARTICLE = {"title": "New", "slug": "new", "price": "1.5"}
ERROR_CASES = [
    (Article, {"extra_kwargs": MESSAGES}, [
        {}, {"title": "x" * 41}, {**ARTICLE, "price": "abc"}, {**ARTICLE, "price": "1.234"}, {**ARTICLE, "price": None},
        {**ARTICLE, "title": ""}, {**ARTICLE, "views": 10 ** 7}, {**ARTICLE, "views": "x"}, {**ARTICLE, "ratio": -1},
        {**ARTICLE, "active": "maybe"}, {**ARTICLE, "published": "2024-02-30"}, {**ARTICLE, "happens": "x"},
        {**ARTICLE, "starts": "25:00"}, {**ARTICLE, "key": "x"}, {**ARTICLE, "span": "x"}, {**ARTICLE, "ip": "1.2.3"},
        {**ARTICLE, "email": "x"}, {**ARTICLE, "site": "x"}, {**ARTICLE, "slug": "a b"}, {**ARTICLE, "slug": "taken"},
        {**ARTICLE, "status": "gone"}, {**ARTICLE, "rating": 9}, {**ARTICLE, "author": 999999},
        {**ARTICLE, "author": 10 ** 20}, {**ARTICLE, "author": "x"}, {**ARTICLE, "labels": [999999]},
        {**ARTICLE, "labels": "red"}, {**ARTICLE, "title": "a\x00b"}, {**ARTICLE, "extra": {"a": 1}},
    ]),
    (Everything, {"fields": ["big", "count", "small", "positive", "owner", "tags", "slug", "created"]}, [
        {"big": "x", "count": "1.5", "small": 40000, "positive": -1, "slug": "", "created": "x"},
        {"big": 2 ** 63, "count": 2 ** 31, "small": "1", "positive": None, "owner": 5, "tags": [5], "slug": "s",
         "created": "2024-05-01"},
    ]),
    # A validator of the model's own is run neither on null nor on blank
    # text, nor is uniqueness; a value past the column's range that fails
    # the validator as well gets both errors.
    (Member, {}, [
        {"handle": None, "points": None}, {"handle": "", "points": 2}, {"handle": "taken"}, {"points": 3},
        {"points": 2 ** 63 + 1}, {"points": -2 ** 63 - 1}, {"points": 2 ** 63}, {"handle": "x" * 13, "points": "x"},
    ]),
]


def validate_title(self, value):
    self.calls.append(value)
    if value == "forbidden":
        raise serializers.ValidationError("not this one", code="forbidden")
    return value.upper()


@pytest.mark.parametrize("language", ["en", "fr", "de"])
@pytest.mark.parametrize("model, meta, bodies", ERROR_CASES, ids=[case[0].__name__ for case in ERROR_CASES])
def test_errors_are_drfs_in_the_active_language(rows, language, model, meta, bodies):
    """Every error of a field, in DRF's words and order; validate_<field>()
    runs as often as DRF runs it (DRF's code answers again for a refused
    field)."""
    drf, ours = pair(model, **meta)
    for cls in (drf, ours):
        cls.calls, cls.validate_title = [], validate_title
    instance = model.objects.order_by("pk").last()
    with translation.override(language):
        for body in bodies + [{**ARTICLE, "title": "forbidden", "slug": "taken"}]:
            assert answer(ours(data=body)) == answer(drf(data=body)), body
            assert answer(ours(instance, data=body, partial=True)) == answer(drf(instance, data=body, partial=True))
        assert answer(ours(data=bodies, many=True)) == answer(drf(data=bodies, many=True))
    assert ours.calls == drf.calls


SETTINGS = [
    {"USE_TZ": False}, {"TIME_ZONE": "Europe/Paris"}, {"TIME_ZONE": "America/New_York", "USE_TZ": False},
    {"REST_FRAMEWORK": {"DURATION_FORMAT": "iso-8601"}}, {"REST_FRAMEWORK": {"COERCE_DECIMAL_TO_STRING": False}},
    {"REST_FRAMEWORK": {"COERCE_BIGINT_TO_STRING": True}},
    {"REST_FRAMEWORK": {"DATE_FORMAT": "%d/%m/%Y", "DATETIME_FORMAT": "%Y-%m-%d %H:%M", "TIME_FORMAT": "%H.%M"}},
    {"REST_FRAMEWORK": {"DATE_FORMAT": None, "DATETIME_FORMAT": None, "TIME_FORMAT": None, "DURATION_FORMAT": None}},
    {"REST_FRAMEWORK": {"DATE_INPUT_FORMATS": ["%d/%m/%Y"], "DATETIME_INPUT_FORMATS": ["%Y-%m-%d %H:%M", "iso-8601"],
                        "TIME_INPUT_FORMATS": ["%H.%M"]}},
    # DRF's renderer reads these once, at import: a change is not seen.
    {"REST_FRAMEWORK": {"UNICODE_JSON": False, "COMPACT_JSON": False, "STRICT_JSON": False}},
]
BODIES = [
    {**ARTICLE, "happens": "2024-05-01T10:00:00", "published": "2024-05-01", "starts": "10:00", "span": "P1DT2H"},
    {**ARTICLE, "happens": "2024-05-01 10:00", "published": "01/05/2024", "starts": "10.30", "span": "1 02:00:00"},
    {**ARTICLE, "happens": "2024-05-01T10:00:00+02:00", "price": "2"},
]


def outputs(serializer, renderer):
    """.data of one object and of lists (the rows route and instances), as
    dicts and as rendered bytes, and the answers to request bodies."""
    model = serializer.Meta.model
    one = serializer(model.objects.order_by("pk").first()).data
    listed = serializer(model.objects.order_by("pk"), many=True).data
    instances = serializer(list(model.objects.order_by("pk")), many=True).data
    data = [one, listed, instances]
    return data + [renderer().render(d) for d in data] + [answer(serializer(data=body)) for body in BODIES]


@pytest.mark.parametrize("changed", SETTINGS, ids=repr)
def test_settings_changed_after_first_use_are_followed(rows, changed):
    pairs = [pair(Article), pair(Everything, exclude=["blob", "raw", "tags"])]
    before = [outputs(ours, zembra.rest.JSONRenderer) for _, ours in pairs]  # compiled under the first settings
    with override_settings(**changed):
        for drf, ours in pairs:
            assert outputs(ours, zembra.rest.JSONRenderer) == outputs(drf, renderers.JSONRenderer)
    assert [outputs(ours, zembra.rest.JSONRenderer) for _, ours in pairs] == before


def test_model_resource_reads_naive_datetimes_in_the_zone_in_force(rows):
    resource = ModelResource(Member)
    body = {"joined": "2024-05-01T10:00:00"}
    resource.load(body)
    for changed in ({"TIME_ZONE": "Europe/Paris"}, {"USE_TZ": False}, {}):
        with override_settings(**changed):
            zone = timezone.get_default_timezone() if timezone.settings.USE_TZ else None
            naive = dt.datetime(2024, 5, 1, 10)
            expected = naive if zone is None else naive.replace(tzinfo=zone)
            values, _ = resource.load(body)
            assert values["joined"] == expected and values["joined"].tzinfo == expected.tzinfo

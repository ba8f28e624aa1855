"""Models of the model layer's tests: every field kind the layer knows,
relations of both kinds, choices, automatic and generated fields."""

import uuid

from django.core.exceptions import ValidationError
from django.core.validators import MaxValueValidator, MinValueValidator
from django.db import models


class Author(models.Model):
    name = models.CharField(max_length=40)


class Label(models.Model):
    name = models.CharField(max_length=20)

    class Meta:
        ordering = ["id"]


class Article(models.Model):
    title = models.CharField(max_length=40)
    slug = models.SlugField(unique=True)
    body = models.TextField(blank=True)
    status = models.CharField(max_length=5, choices=[("draft", "Draft"), ("live", "Live")], default="draft")
    rating = models.PositiveSmallIntegerField(choices=[(1, "poor"), (2, "fine"), (3, "good")], null=True,
                                              blank=True)
    views = models.IntegerField(default=0, validators=[MaxValueValidator(1000000)])
    price = models.DecimalField(max_digits=7, decimal_places=2)
    ratio = models.FloatField(null=True, blank=True, validators=[MinValueValidator(0.0)])
    active = models.BooleanField(default=True)
    published = models.DateField(null=True, blank=True)
    starts = models.TimeField(null=True, blank=True)
    happens = models.DateTimeField(null=True, blank=True)
    created = models.DateTimeField(auto_now_add=True)
    updated = models.DateTimeField(auto_now=True)
    key = models.UUIDField(default=uuid.uuid4)
    span = models.DurationField(null=True, blank=True)
    ip = models.GenericIPAddressField(null=True, blank=True)
    email = models.EmailField(blank=True)
    site = models.URLField(blank=True)
    extra = models.JSONField(default=dict, blank=True)
    code = models.CharField(max_length=8, editable=False, default="x")
    doubled = models.GeneratedField(expression=models.F("views") * 2, output_field=models.IntegerField(),
                                    db_persist=True)
    cover = models.FileField(blank=True)
    author = models.ForeignKey(Author, on_delete=models.CASCADE, null=True, blank=True)
    labels = models.ManyToManyField(Label, blank=True)


def even(value):
    """A validator of the project's own (not Django's): serializers run it
    in Python."""
    if value % 2:
        raise ValidationError("%(value)s is odd.", code="odd", params={"value": value})


class Member(models.Model):
    """A unique text that may be null or blank, and a big number with a
    validator of its own."""

    handle = models.CharField(max_length=12, unique=True, null=True, blank=True)
    points = models.BigIntegerField(null=True, blank=True, validators=[even])
    joined = models.DateTimeField(null=True, blank=True)


class Ticket(models.Model):
    """A key that is a UUID, a required foreign key and a required
    many-to-many field."""

    id = models.UUIDField(primary_key=True, default=uuid.uuid4)
    article = models.ForeignKey(Article, on_delete=models.CASCADE)
    note = models.CharField(max_length=10)
    watchers = models.ManyToManyField(Author)


class Entry(models.Model):
    """A unique-together set whose fields DRF gives defaults: blank text
    and a model default."""

    race_name = models.CharField(max_length=20, blank=True)
    position = models.IntegerField(default=1)
    note = models.CharField(max_length=10, blank=True)

    class Meta:
        unique_together = [("race_name", "position")]


class Encoded(models.Model):
    """Texts stored with a prefix that loading strips."""

    text = models.CharField(max_length=20)

    @classmethod
    def from_db(cls, db, field_names, values):
        instance = super().from_db(db, field_names, values)
        instance.text = instance.text.removeprefix("enc:")
        return instance


class Shouting(models.QuerySet):
    def _fetch_all(self):
        super()._fetch_all()
        for label in self._result_cache:
            label.name = label.name.upper()


class Precise(models.Model):
    """Decimals past what 96 bits and 28 places hold."""

    fine = models.DecimalField(max_digits=32, decimal_places=30)
    huge = models.DecimalField(max_digits=38, decimal_places=0)


class Reply(models.Model):
    """Relations to a model whose key is a UUID."""

    ticket = models.ForeignKey(Ticket, on_delete=models.CASCADE)
    tickets = models.ManyToManyField(Ticket, related_name="replies_listing")


class Cook(models.Model):
    name = models.CharField(max_length=20, unique=True)


class Kitchen(models.Model):
    """A many-to-many whose through model refers to the cooks by name, a
    relation to a model whose key is a one-to-one key."""

    cooks = models.ManyToManyField(Cook, through="Shift")
    venue = models.ForeignKey("Restaurant", on_delete=models.CASCADE, null=True, blank=True)


class Shift(models.Model):
    kitchen = models.ForeignKey(Kitchen, on_delete=models.CASCADE)
    cook = models.ForeignKey(Cook, to_field="name", on_delete=models.CASCADE)


class Site(models.Model):
    name = models.CharField(max_length=20)
    labels = models.ManyToManyField(Label, related_name="sites")


class Restaurant(Site):
    """A child whose key is its parent link."""


class Bar(Site):
    """A child with a key of its own."""

    bar_id = models.AutoField(primary_key=True)
    site_ptr = models.OneToOneField(Site, parent_link=True, on_delete=models.CASCADE)


class Place(models.Model):
    """A parent whose unique field its children share (multi-table)."""

    slug = models.SlugField(unique=True)


class Shop(Place):
    owner = models.CharField(max_length=20, blank=True)


class Coupon(models.Model):
    """Uniqueness from single-field constraints: one for every row, one for
    the rows its condition (on the same field) selects."""

    code = models.CharField(max_length=10)
    ref = models.CharField(max_length=10, blank=True)

    class Meta:
        constraints = [
            models.UniqueConstraint(fields=["code"], name="coupon_code_unique"),
            models.UniqueConstraint(fields=["ref"], condition=models.Q(ref__startswith="x"), name="coupon_ref_x"),
        ]


class Moment(models.Model):
    """A primary key that is a datetime."""

    at = models.DateTimeField(primary_key=True)


class Reading(models.Model):
    """Relations to a datetime key, which the input parser cannot read as
    Django's lookup does."""

    moment = models.ForeignKey(Moment, on_delete=models.CASCADE, null=True, blank=True)
    moments = models.ManyToManyField(Moment, related_name="readings_of")


class Pair(models.Model):
    a = models.IntegerField()
    b = models.IntegerField()

    class Meta:
        unique_together = [("a", "b")]


class PairRef(models.Model):
    """A relation over two columns."""

    a = models.IntegerField()
    b = models.IntegerField()
    pair = models.ForeignObject(Pair, on_delete=models.CASCADE, from_fields=["a", "b"], to_fields=["a", "b"])

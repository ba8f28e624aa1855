import json
import uuid

from django.db import models


class Owner(models.Model):
    name = models.CharField(max_length=50)


class Tag(models.Model):
    label = models.CharField(max_length=30)


class Everything(models.Model):
    """Every supported field type, plus an automatic key, relations and
    field types the module leaves out."""

    title = models.CharField(max_length=20)
    body = models.TextField()
    count = models.IntegerField()
    small = models.SmallIntegerField(default=0)
    positive = models.PositiveIntegerField(null=True, blank=True)
    big = models.BigIntegerField()
    ratio = models.FloatField()
    price = models.DecimalField(max_digits=6, decimal_places=2)
    active = models.BooleanField(default=False)
    day = models.DateField()
    at = models.TimeField()
    created = models.DateTimeField()
    key = models.UUIDField(default=uuid.uuid4)
    data = models.JSONField(null=True, blank=True)
    blob = models.BinaryField(max_length=16, null=True)
    raw = models.BinaryField(null=True)
    email = models.EmailField()
    site = models.URLField()
    slug = models.SlugField()
    owner = models.ForeignKey(Owner, null=True, blank=True, on_delete=models.SET_NULL)
    tags = models.ManyToManyField(Tag, blank=True)
    attachment = models.FileField(blank=True)
    span = models.DurationField(null=True, blank=True)
    ip = models.GenericIPAddressField(null=True, blank=True)


class Ordered(models.Model):
    zeta = models.IntegerField()
    alpha = models.CharField(max_length=5, null=True)
    mid = models.TextField(default="m")


class Sample(models.Model):
    """Every field kind of the queryset route, all nullable, with decimals of
    several shapes (one beyond the 28 fraction digits the routes keep)."""

    text = models.CharField(max_length=40, null=True)
    body = models.TextField(null=True)
    count = models.IntegerField(null=True)
    big = models.BigIntegerField(null=True)
    ratio = models.FloatField(null=True)
    money = models.DecimalField(max_digits=8, decimal_places=2, null=True)
    whole = models.DecimalField(max_digits=5, decimal_places=0, null=True)
    fine = models.DecimalField(max_digits=40, decimal_places=30, null=True)
    flag = models.BooleanField(null=True)
    day = models.DateField(null=True)
    at = models.TimeField(null=True)
    moment = models.DateTimeField(null=True)
    key = models.UUIDField(null=True)
    doc = models.JSONField(null=True)
    blob = models.BinaryField(null=True)


class LowerCaseField(models.CharField):
    """A field class of its own, with a converter Django runs on every value."""

    def from_db_value(self, value, expression, connection):
        return value if value is None else value.lower()


class Customised(models.Model):
    name = LowerCaseField(max_length=20)


class Decoder(json.JSONDecoder):
    pass


class Decoded(models.Model):
    doc = models.JSONField(decoder=Decoder)


from django_tests.testapp.layer_models import (  # noqa: E402,F401
    Article, Author, Bar, Cook, Coupon, Encoded, Entry, Kitchen, Label, Moment, Place, Precise, Reading, Reply,
    PairRef, Pair, Restaurant, Shift, Shop, Site, Ticket)

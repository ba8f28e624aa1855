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
from django_tests.testapp.layer_models import Article, Author, Label, Ticket  # noqa: E402,F401

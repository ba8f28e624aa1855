import uuid

from django.db import models
from django.utils import timezone


class Category(models.Model):
    name = models.CharField(max_length=80, unique=True)
    slug = models.SlugField(unique=True)

    class Meta:
        verbose_name_plural = "categories"

    def __str__(self):
        return self.name


class Product(models.Model):
    id = models.UUIDField(primary_key=True, default=uuid.uuid4, editable=False)
    sku = models.CharField(max_length=32, unique=True)
    name = models.CharField(max_length=120)
    description = models.TextField(blank=True, default="")
    price = models.DecimalField(max_digits=10, decimal_places=2)
    weight_kg = models.FloatField(null=True, blank=True)
    stock = models.PositiveIntegerField(default=0)
    is_active = models.BooleanField(default=True)
    attributes = models.JSONField(default=dict, blank=True)
    thumbnail = models.BinaryField(max_length=4096, null=True, blank=True)
    released_on = models.DateField(null=True, blank=True)
    created_at = models.DateTimeField(default=timezone.now)
    category = models.ForeignKey(Category, on_delete=models.PROTECT, related_name="products")

    class Meta:
        ordering = ["sku"]

    def __str__(self):
        return f"{self.sku} {self.name}"


class Review(models.Model):
    product = models.ForeignKey(Product, on_delete=models.CASCADE, related_name="reviews")
    rating = models.PositiveSmallIntegerField()
    title = models.CharField(max_length=100)
    body = models.TextField(blank=True, default="")
    created_at = models.DateTimeField(default=timezone.now)


class FinancingApplication(models.Model):
    """A customer's request to pay for an order in instalments."""

    applicant_name = models.CharField(max_length=120)
    credit_score = models.PositiveSmallIntegerField()
    debt_to_income_ratio = models.FloatField()
    loan_amount = models.DecimalField(max_digits=12, decimal_places=2)
    age = models.PositiveSmallIntegerField()
    interest_rate = models.DecimalField(max_digits=5, decimal_places=2)
    submitted_at = models.DateTimeField(default=timezone.now)

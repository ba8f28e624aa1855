"""The product resource, compiled once when the views are first imported."""

from zembra.django import ModelResource

from .models import Product

# Every field, the category's key included, with DRF's rules for input.
PRODUCTS = ModelResource(Product)

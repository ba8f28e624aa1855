"""Compiled zembra schemas, built once when the views are first imported."""

import zembra_django

from .models import Product, ProductListing

# The Product fields, without the category relation: what a create request
# holds besides its category, and what validate_instance checks.
PRODUCT_SCHEMA = zembra_django.ModelSchema(Product)
PRODUCT_FIELDS = PRODUCT_SCHEMA.field_names_list

# Every key of a product answer, the category's key included.
LISTING_SCHEMA = zembra_django.ModelSchema(ProductListing)
LISTING_FIELDS = LISTING_SCHEMA.field_names_list

"""Compiled zembra schemas, built once when the views are first imported."""

import zembra_django

from .models import Product

# The Product fields in declaration order, without the category relation.
PRODUCT_SCHEMA = zembra_django.ModelSchema(Product)
PRODUCT_FIELDS = PRODUCT_SCHEMA.field_names_list

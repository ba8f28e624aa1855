"""Whole-table exports, streamed: rows leave as they are read, so an export
of any size holds one batch in memory.

``product_export`` is the zembra route; ``product_export_values`` is what a
Django project writes without it (values_list().iterator() with orjson per
row), kept for the streaming benchmark (benchmarks/bench_stream_export.py).
"""

import orjson
from django.http import StreamingHttpResponse
from django.views.decorators.http import require_GET

import zembra_django
from zembra.django import stream_queryset_json

from .models import Product

PRODUCT_SCHEMA = zembra_django.ModelSchema(Product)
NDJSON = "application/x-ndjson"


@require_GET
def product_export(request):
    """Every product, as newline-delimited JSON (``?format=array``: one JSON array)."""
    lines = request.GET.get("format") != "array"
    return StreamingHttpResponse(stream_queryset_json(Product.objects.all(), PRODUCT_SCHEMA, lines=lines),
                                 content_type=NDJSON if lines else "application/json")


@require_GET
def product_export_values(request):
    names = PRODUCT_SCHEMA.field_names_list
    rows = Product.objects.values_list(*names).iterator()
    return StreamingHttpResponse(
        (orjson.dumps(dict(zip(names, row)), default=str, option=orjson.OPT_APPEND_NEWLINE) for row in rows),
        content_type=NDJSON)

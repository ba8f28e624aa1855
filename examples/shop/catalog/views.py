"""The catalog API built on zembra, zembra_django and zembra_core.

Every answer is JSON bytes written natively and handed to the response as
they are: a page of products goes from the database to JSON without model
instances or dicts (``serialize_queryset_json``), one product from its
instance (``serialize_instance_json``), everything else through
``zembra.encode_json``.
"""

import json

from django.db import IntegrityError, transaction
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_GET, require_http_methods

import zembra
import zembra.django
import zembra_core
import zembra_django
from zembra.django import JsonBytesResponse, serialize_queryset_json

from . import json_input
from .models import Category, FinancingApplication, Product, ProductListing
from .schemas import LISTING_SCHEMA, PRODUCT_FIELDS, PRODUCT_SCHEMA
from .shared import HIGH_RISK, RISK_FIELDS, page_bounds


def answer(value, status=200):
    """Any other JSON-ready value, encoded natively."""
    try:
        body = zembra.encode_json(value)
    except UnicodeEncodeError:
        # A message quoting a lone surrogate of the request ("\ud800" is valid
        # JSON): UTF-8 cannot hold it, a \u escape can.
        body = json.dumps(value).encode()
    return JsonBytesResponse(body, status=status)


def not_found():
    return answer({"detail": "Not found."}, status=404)


@csrf_exempt
@require_http_methods(["GET", "POST"])
def product_list(request):
    if request.method == "POST":
        return product_create(request)
    start, stop = page_bounds(request)
    rows = ProductListing.objects.all()[start:stop]
    return JsonBytesResponse(serialize_queryset_json(rows, LISTING_SCHEMA))


@require_GET
def product_detail(request, pk):
    # For one row the instance route is the quicker one: the queryset route
    # saves converter calls per row but compiles a longer query.
    try:
        product = ProductListing.objects.get(pk=pk)
    except ProductListing.DoesNotExist:
        return not_found()
    return JsonBytesResponse(zembra.serialize_instance_json(product, LISTING_SCHEMA))


def product_create(request):
    try:
        data = json_input.load_object(request.body)
    except json_input.BadRequest as exc:
        return answer({"detail": str(exc)}, status=400)

    values, errors = json_input.field_values(Product, PRODUCT_FIELDS, data)
    category = data.get("category")
    if type(category) is not int or not Category.objects.filter(pk=category).exists():
        category = None
        errors.append({"field": "category", "message": "Select a valid category.",
                       "code": "invalid_choice", "params": {}})

    product = Product(category_id=category, **values)
    try:
        report = zembra_django.validate_instance(product, PRODUCT_SCHEMA)
    except (TypeError, ValueError, OverflowError) as exc:  # a value it cannot read at all
        return answer({"detail": str(exc)}, status=400)
    report = json_input.with_input_errors(report, errors, [*PRODUCT_FIELDS, "category"])
    if not report["is_valid"]:
        return answer(report, status=400)
    json_input.pad_decimal_places(product)
    try:
        with transaction.atomic():
            product.save(force_insert=True)
    except IntegrityError as exc:  # unique sku, stock >= 0: the database's checks
        return answer({"detail": f"Rejected by the database: {exc}"}, status=400)
    # The saved values as the listing model holds them: no second query.
    listing = ProductListing(category=category, **{name: getattr(product, name) for name in PRODUCT_FIELDS})
    return JsonBytesResponse(zembra.serialize_instance_json(listing, LISTING_SCHEMA), status=201)


@require_GET
def stats(request):
    prices = list(Product.objects.filter(is_active=True).values_list("price", flat=True))
    applications = list(FinancingApplication.objects.values(*RISK_FIELDS))
    scores = zembra_core.compute_risk_batch(applications)
    return answer({
        "price": zembra_core.batch_stats(prices),
        "financing_risk": zembra_core.batch_stats(scores),
        "high_risk_count": sum(score >= HIGH_RISK for score in scores),
    })

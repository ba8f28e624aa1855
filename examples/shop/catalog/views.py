"""The catalog API built on zembra_django and zembra_core."""

from django.db import IntegrityError, transaction
from django.http import JsonResponse
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_GET, require_http_methods

import zembra_core
import zembra_django

from . import json_input
from .models import Category, FinancingApplication, Product
from .schemas import PRODUCT_FIELDS, PRODUCT_SCHEMA
from .shared import HIGH_RISK, RISK_FIELDS, page_bounds


def detail_payload(product):
    data = zembra_django.serialize_instance(product, PRODUCT_SCHEMA)
    data["category"] = product.category_id  # relations are ours to add
    return data


@csrf_exempt
@require_http_methods(["GET", "POST"])
def product_list(request):
    if request.method == "POST":
        return product_create(request)
    start, stop = page_bounds(request)
    # The category key rides along after the schema's fields: the library
    # reads only the first len(PRODUCT_FIELDS) items of each row.
    rows = list(Product.objects.values_list(*PRODUCT_FIELDS, "category_id")[start:stop])
    items = zembra_django.serialize_values_list(rows, PRODUCT_SCHEMA)
    for row, item in zip(rows, items):
        item["category"] = row[-1]
    return JsonResponse(items, safe=False)


def product_create(request):
    try:
        data = json_input.load_object(request.body)
    except json_input.BadRequest as exc:
        return JsonResponse({"detail": str(exc)}, status=400)

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
        return JsonResponse({"detail": str(exc)}, status=400)
    report = json_input.with_input_errors(report, errors, [*PRODUCT_FIELDS, "category"])
    if not report["is_valid"]:
        return JsonResponse(report, status=400)
    json_input.pad_decimal_places(product)
    try:
        with transaction.atomic():
            product.save(force_insert=True)
    except IntegrityError as exc:  # unique sku, stock >= 0: the database's checks
        return JsonResponse({"detail": f"Rejected by the database: {exc}"}, status=400)
    return JsonResponse(detail_payload(product), status=201)


@require_GET
def product_detail(request, pk):
    product = Product.objects.filter(pk=pk).first()
    if product is None:
        return JsonResponse({"detail": "Not found."}, status=404)
    return JsonResponse(detail_payload(product))


@require_GET
def stats(request):
    prices = list(Product.objects.filter(is_active=True).values_list("price", flat=True))
    applications = list(FinancingApplication.objects.values(*RISK_FIELDS))
    scores = zembra_core.compute_risk_batch(applications)
    return JsonResponse({
        "price": zembra_core.batch_stats(prices),
        "financing_risk": zembra_core.batch_stats(scores),
        "high_risk_count": sum(score >= HIGH_RISK for score in scores),
    })

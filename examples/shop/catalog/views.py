"""The catalog API built on zembra and zembra_core.

Every answer is JSON bytes written natively and handed to the response as
they are: a page of products goes from the database to JSON without model
instances or dicts, one product from its instance, everything else through
``zembra.encode_json``. A request body goes from bytes to checked model
values in one native pass.
"""

import json

from django.db import DataError, IntegrityError, transaction
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_GET, require_http_methods

import zembra
import zembra_core
from zembra.django import JsonBytesResponse

from .models import FinancingApplication, Product
from .resources import PRODUCTS
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


def product_answer(product, status=200):
    try:
        return JsonBytesResponse(PRODUCTS.dump_json(product), status=status)
    except UnicodeEncodeError:  # a lone surrogate, valid in a JSON field's text
        return answer(PRODUCTS.dump(product), status)


@csrf_exempt
@require_http_methods(["GET", "POST"])
def product_list(request):
    if request.method == "POST":
        return product_create(request)
    start, stop = page_bounds(request)
    page = Product.objects.all()[start:stop]
    try:
        return JsonBytesResponse(PRODUCTS.serialize_queryset_json(page))
    except UnicodeEncodeError:
        return answer(PRODUCTS.serialize_queryset(page))


@require_GET
def product_detail(request, pk):
    try:
        product = Product.objects.get(pk=pk)
    except Product.DoesNotExist:
        return answer({"detail": "Not found."}, status=404)
    return product_answer(product)


def product_create(request):
    values, report = PRODUCTS.load(request)  # the body in its Content-Type charset, as DRF reads it
    if report:
        return answer(report, status=400)
    try:
        with transaction.atomic():
            product = PRODUCTS.save(values)
    # What the checks cannot see: a concurrent equal sku, or PostgreSQL's JSON
    # type refusing a lone surrogate that JSON text may hold.
    except (IntegrityError, DataError) as exc:
        return answer({"detail": f"Rejected by the database: {exc}"}, status=400)
    return product_answer(product, status=201)


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

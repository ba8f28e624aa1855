"""The catalog's list and create as ``async def`` views, for an ASGI server.

The database work runs through zembra.django's async routes, in Django's
thread for sync code; everything else (encoding, the answer) stays on the
event loop. The answers are those of views.py, byte for byte.
"""

from django.db import DataError, IntegrityError
from django.views.decorators.csrf import csrf_exempt
from django.views.decorators.http import require_http_methods

from zembra.django import JsonBytesResponse

from .models import Product
from .resources import PRODUCTS
from .shared import page_bounds
from .views import answer, product_answer


@csrf_exempt
@require_http_methods(["GET", "POST"])
async def product_list(request):
    if request.method == "POST":
        return await product_create(request)
    start, stop = page_bounds(request)
    page = Product.objects.all()[start:stop]
    try:
        return JsonBytesResponse(await PRODUCTS.aserialize_queryset_json(page))
    except UnicodeEncodeError:  # a lone surrogate, valid in a JSON field's text
        return answer(await PRODUCTS.aserialize_queryset(page))


async def product_create(request):
    try:
        # One trip to Django's thread for both (aload then asave take two).
        # One INSERT (a product has no to-many fields): atomic without a
        # transaction around it, which Django cannot open in async code.
        product, report = await PRODUCTS.aload_and_save(request)
    except (IntegrityError, DataError) as exc:
        return answer({"detail": f"Rejected by the database: {exc}"}, status=400)
    if report:
        return answer(report, status=400)
    return product_answer(product, status=201)

"""The same catalog API with Django REST framework, for comparison.

Each view serves twice: with DRF's default JSON renderer and parser
(``/api/drf/``), and with the orjson-based renderer and parser of the
``drf-orjson-renderer`` package (``/api/drf-fast/``), the fastest
published JSON set-up a DRF user can pick without rewriting the views.
"""

import statistics

from django.shortcuts import get_object_or_404
from drf_orjson_renderer.parsers import ORJSONParser
from drf_orjson_renderer.renderers import ORJSONRenderer
from rest_framework import status
from rest_framework.response import Response
from rest_framework.views import APIView

from .models import FinancingApplication, Product
from .risk import risk_score
from .serializers import ProductSerializer
from .shared import HIGH_RISK, RISK_FIELDS, page_bounds

ORJSON = {"renderer_classes": [ORJSONRenderer], "parser_classes": [ORJSONParser]}


class ProductList(APIView):
    def get(self, request):
        start, stop = page_bounds(request)
        return Response(ProductSerializer(Product.objects.all()[start:stop], many=True).data)

    def post(self, request):
        serializer = ProductSerializer(data=request.data)
        if not serializer.is_valid():
            return Response(serializer.errors, status=status.HTTP_400_BAD_REQUEST)
        serializer.save()
        return Response(serializer.data, status=status.HTTP_201_CREATED)


class ProductDetail(APIView):
    def get(self, request, pk):
        return Response(ProductSerializer(get_object_or_404(Product, pk=pk)).data)


def summary(values):
    if not values:
        return {"count": 0}
    return {"mean": statistics.fmean(values), "median": statistics.median(values),
            "stdev": statistics.pstdev(values), "min": min(values), "max": max(values),
            "count": len(values)}


class Stats(APIView):
    def get(self, request):
        prices = [float(p) for p in Product.objects.filter(is_active=True).values_list("price", flat=True)]
        rows = FinancingApplication.objects.values_list(*RISK_FIELDS)
        scores = [risk_score(*map(float, row)) for row in rows]
        return Response({
            "price": summary(prices),
            "financing_risk": summary(scores),
            "high_risk_count": sum(score >= HIGH_RISK for score in scores),
        })

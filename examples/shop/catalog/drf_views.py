"""The same catalog API with Django REST framework, for comparison."""

import statistics

from django.shortcuts import get_object_or_404
from rest_framework import status
from rest_framework.decorators import api_view
from rest_framework.response import Response

from .models import FinancingApplication, Product
from .risk import risk_score
from .serializers import ProductSerializer
from .shared import HIGH_RISK, RISK_FIELDS, page_bounds


@api_view(["GET", "POST"])
def product_list(request):
    if request.method == "POST":
        serializer = ProductSerializer(data=request.data)
        if not serializer.is_valid():
            return Response(serializer.errors, status=status.HTTP_400_BAD_REQUEST)
        serializer.save()
        return Response(serializer.data, status=status.HTTP_201_CREATED)
    start, stop = page_bounds(request)
    return Response(ProductSerializer(Product.objects.all()[start:stop], many=True).data)


@api_view(["GET"])
def product_detail(request, pk):
    return Response(ProductSerializer(get_object_or_404(Product, pk=pk)).data)


def summary(values):
    if not values:
        return {"count": 0}
    return {"mean": statistics.fmean(values), "median": statistics.median(values),
            "stdev": statistics.pstdev(values), "min": min(values), "max": max(values),
            "count": len(values)}


@api_view(["GET"])
def stats(request):
    prices = [float(p) for p in Product.objects.filter(is_active=True).values_list("price", flat=True)]
    rows = FinancingApplication.objects.values_list(*RISK_FIELDS)
    scores = [risk_score(*map(float, row)) for row in rows]
    return Response({
        "price": summary(prices),
        "financing_risk": summary(scores),
        "high_risk_count": sum(score >= HIGH_RISK for score in scores),
    })

from django.urls import path

from . import drf_views, views
from .drf_views import ORJSON

urlpatterns = [
    path("zembra/products/", views.product_list, name="zembra-products"),
    path("zembra/products/<uuid:pk>/", views.product_detail, name="zembra-product"),
    path("zembra/stats/", views.stats, name="zembra-stats"),
    path("drf/products/", drf_views.ProductList.as_view(), name="drf-products"),
    path("drf/products/<uuid:pk>/", drf_views.ProductDetail.as_view(), name="drf-product"),
    path("drf/stats/", drf_views.Stats.as_view(), name="drf-stats"),
    path("drf-fast/products/", drf_views.ProductList.as_view(**ORJSON), name="drf-fast-products"),
    path("drf-fast/products/<uuid:pk>/", drf_views.ProductDetail.as_view(**ORJSON), name="drf-fast-product"),
    path("drf-fast/stats/", drf_views.Stats.as_view(**ORJSON), name="drf-fast-stats"),
]

from django.urls import path

from . import async_views, drf_views, exports, views, viewsets
from .drf_views import ORJSON

VIEWSET_LIST, VIEWSET_ITEM = {"get": "list", "post": "create"}, {"get": "retrieve", "put": "update",
                                                                  "patch": "partial_update", "delete": "destroy"}

urlpatterns = [
    path("zembra/products/", views.product_list, name="zembra-products"),
    path("zembra/products/<uuid:pk>/", views.product_detail, name="zembra-product"),
    path("zembra/stats/", views.stats, name="zembra-stats"),
    path("zembra/products/export/", exports.product_export, name="zembra-product-export"),
    path("values/products/export/", exports.product_export_values, name="values-product-export"),
    path("zembra-async/products/", async_views.product_list, name="zembra-async-products"),
    path("drf/products/", drf_views.ProductList.as_view(), name="drf-products"),
    path("drf/products/<uuid:pk>/", drf_views.ProductDetail.as_view(), name="drf-product"),
    path("drf/stats/", drf_views.Stats.as_view(), name="drf-stats"),
    path("drf-fast/products/", drf_views.ProductList.as_view(**ORJSON), name="drf-fast-products"),
    path("drf-fast/products/<uuid:pk>/", drf_views.ProductDetail.as_view(**ORJSON), name="drf-fast-product"),
    path("drf-fast/stats/", drf_views.Stats.as_view(**ORJSON), name="drf-fast-stats"),
    path("viewset/drf/products/", viewsets.ProductViewSet.as_view(VIEWSET_LIST), name="viewset-drf-products"),
    path("viewset/drf/products/<uuid:pk>/", viewsets.ProductViewSet.as_view(VIEWSET_ITEM), name="viewset-drf-product"),
    path("viewset/zembra/products/", viewsets.ProductViewSet.as_view(VIEWSET_LIST, **viewsets.ZEMBRA),
         name="viewset-zembra-products"),
    path("viewset/zembra/products/<uuid:pk>/", viewsets.ProductViewSet.as_view(VIEWSET_ITEM, **viewsets.ZEMBRA),
         name="viewset-zembra-product"),
    path("viewset/drf/paged/", viewsets.ProductViewSet.as_view(VIEWSET_LIST, **viewsets.PAGED),
         name="viewset-drf-paged"),
    path("viewset/zembra/paged/", viewsets.ProductViewSet.as_view(VIEWSET_LIST, **viewsets.ZEMBRA, **viewsets.ZEMBRA_PAGED),
         name="viewset-zembra-paged"),
    path("viewset/floor/products/", viewsets.ProductViewSet.as_view(VIEWSET_LIST, **viewsets.FLOOR),
         name="viewset-floor-products"),
    path("viewset/floor/products/<uuid:pk>/", viewsets.ProductViewSet.as_view(VIEWSET_ITEM, **viewsets.FLOOR),
         name="viewset-floor-product"),
    path("viewset/floor/paged/", viewsets.ProductViewSet.as_view(VIEWSET_LIST, **viewsets.FLOOR, **viewsets.PAGED),
         name="viewset-floor-paged"),
]

from django.urls import path

from . import drf_views, views

urlpatterns = [
    path("zembra/products/", views.product_list, name="zembra-products"),
    path("zembra/products/<uuid:pk>/", views.product_detail, name="zembra-product"),
    path("zembra/stats/", views.stats, name="zembra-stats"),
    path("drf/products/", drf_views.product_list, name="drf-products"),
    path("drf/products/<uuid:pk>/", drf_views.product_detail, name="drf-product"),
    path("drf/stats/", drf_views.stats, name="drf-stats"),
]

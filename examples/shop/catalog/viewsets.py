"""One DRF ``ModelViewSet`` of products, served twice.

The class body is written once. ``/api/viewset/drf/products/`` uses DRF's
``ModelSerializer`` with DRF's default renderer and parser;
``/api/viewset/zembra/products/`` swaps in ``zembra.rest``'s serializer (the
same ``Meta``) and renderer, and nothing else: routing, parsing, lookups,
status codes and errors stay DRF's own.

The list is a page of products as the shop's other APIs answer it: a plain
list, ``?limit=&offset=`` as ``shared.page_bounds`` reads them. The same
viewset also serves DRF's ``LimitOffsetPagination`` (the ``paged/`` URLs in
urls.py): that class reads the page into model instances before the
serializer sees it, so both serializers get a list of instances there.
"""

from rest_framework import filters, parsers, renderers, serializers, viewsets
from rest_framework.pagination import LimitOffsetPagination

import zembra.rest

from .models import Product
from .shared import DEFAULT_PAGE, MAX_PAGE, page_bounds


class DrfProductSerializer(serializers.ModelSerializer):
    class Meta:
        model = Product
        fields = "__all__"


class ZembraProductSerializer(zembra.rest.ModelSerializer):
    Meta = DrfProductSerializer.Meta


class PageBounds(filters.BaseFilterBackend):
    """The list's page, ``?limit=&offset=``; other actions see every product."""

    def filter_queryset(self, request, queryset, view):
        if view.action != "list":
            return queryset
        start, stop = page_bounds(request)
        return queryset[start:stop]


class ProductPages(LimitOffsetPagination):
    default_limit = DEFAULT_PAGE
    max_limit = MAX_PAGE


class ProductViewSet(viewsets.ModelViewSet):
    queryset = Product.objects.all()
    serializer_class = DrfProductSerializer
    renderer_classes = [renderers.JSONRenderer]
    parser_classes = [parsers.JSONParser]
    filter_backends = [PageBounds]
    pagination_class = None


class ZembraProductPages(zembra.rest.LimitOffsetPagination):
    default_limit = DEFAULT_PAGE
    max_limit = MAX_PAGE


# DRF's pagination instead of the shop's plain pages, and zembra.rest's
# drop-in of it (the page handed on as an unevaluated slice).
PAGED = {"filter_backends": [], "pagination_class": ProductPages}
ZEMBRA_PAGED = {"filter_backends": [], "pagination_class": ZembraProductPages}


# The same viewset with zembra.rest: only these two settings differ.
ZEMBRA = {"serializer_class": ZembraProductSerializer, "renderer_classes": [zembra.rest.JSONRenderer]}


class FloorSerializer(serializers.BaseSerializer):
    """The viewset's cost without a serializer's work, for the demo's floor.

    Each answer is DRF's, computed on first use and then given as a constant
    (per page bounds or product key; a body is invalid exactly when its sku
    is "DEMO-BAD", the demo's invalid body); a valid body is saved by one
    INSERT of the values DRF validated the first time, under the body's sku.
    What remains is the view's, the database's and the server's work (a
    page is not even read).
    """

    cache: dict = {}

    @classmethod
    def many_init(cls, *args, **kwargs):
        return object.__new__(cls)  # __init__ follows, with many=True

    def __init__(self, *args, many=False, **kwargs):
        self.many_page = many
        super().__init__(*args, **kwargs)

    def _constant(self, key, compute):
        found = self.cache.get(key)
        if found is None:
            found = self.cache[key] = compute()
        return found

    def is_valid(self, *, raise_exception=False):
        body = self.initial_data if isinstance(self.initial_data, dict) else {}
        key = ("input", body.get("sku") == "DEMO-BAD")

        def compute():
            serializer = DrfProductSerializer(data=body)
            return (dict(serializer.validated_data), None) if serializer.is_valid() else (None, serializer.errors)

        values, self._errors = self._constant(key, compute)
        self._validated_data = {} if values is None else {**values, "sku": body.get("sku")}
        if self._errors and raise_exception:
            raise serializers.ValidationError(self._errors)
        return not self._errors

    @property
    def data(self):
        if self.instance is None:
            return {}
        if self.many_page:
            query = getattr(self.instance, "query", None)  # a list under DRF's pagination
            key = ("page", query.low_mark, query.high_mark) if query is not None else ("list", len(self.instance))
            return self._constant(key, lambda: DrfProductSerializer(self.instance, many=True).data)
        key = ("created",) if hasattr(self, "initial_data") else ("one", self.instance.pk)
        return self._constant(key, lambda: DrfProductSerializer(self.instance).data)

    def create(self, validated_data):
        return Product.objects.create(**validated_data)


class FloorRenderer(renderers.JSONRenderer):
    """Bytes encoded once per constant answer."""

    encoded: dict = {}

    def render(self, data, accepted_media_type=None, renderer_context=None):
        found = self.encoded.get(id(data))
        if found is not None and found[0] is data:
            return found[1]
        text = super().render(data, accepted_media_type, renderer_context)
        if any(data is value for value in FloorSerializer.cache.values()):
            self.encoded[id(data)] = (data, text)
        return text


FLOOR = {"serializer_class": FloorSerializer, "renderer_classes": [FloorRenderer]}

"""The DRF drop-in against DRF itself: the same ModelViewSet (list, retrieve,
create) with DRF's ModelSerializer and JSONRenderer, with an orjson renderer
(the fastest published DRF setup), and with zembra.rest's serializer and
renderer, called through Django's test client on in-memory SQLite."""

import datetime as dt
import decimal
import functools
import json
import uuid

from harness import compare

ROWS = 500


@functools.cache
def setup():
    """Configures Django (unless a benchmark did), defines the models and
    the three viewsets, fills the tables."""
    import django
    from django.conf import settings

    if not settings.configured:
        settings.configure(
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
            INSTALLED_APPS=[], USE_TZ=True, TIME_ZONE="UTC", DEFAULT_AUTO_FIELD="django.db.models.BigAutoField")
        django.setup()
    from django.db import connection, models

    class Category(models.Model):
        name = models.CharField(max_length=40)

        class Meta:
            app_label = "bench_layer"

    class Product(models.Model):
        name = models.CharField(max_length=100)
        description = models.TextField(blank=True)
        quantity = models.PositiveIntegerField()
        price = models.DecimalField(max_digits=10, decimal_places=2)
        rating = models.FloatField()
        active = models.BooleanField(default=True)
        released = models.DateField()
        created = models.DateTimeField(auto_now_add=True)
        key = models.UUIDField(default=uuid.uuid4)
        meta = models.JSONField(default=dict)
        email = models.EmailField()
        category = models.ForeignKey(Category, on_delete=models.CASCADE)

        class Meta:
            app_label = "bench_layer"

    with connection.schema_editor() as editor:
        editor.create_model(Category)
        editor.create_model(Product)
    categories = Category.objects.bulk_create([Category(name=f"c{i}") for i in range(5)])
    Product.objects.bulk_create([Product(
        name=f"product {i}", description="A longer description of the product " * 2, quantity=i % 1000,
        price=decimal.Decimal(f"{i}.{i % 100:02d}"), rating=i / 7, active=i % 3 != 0,
        released=dt.date(2020, 1, 1) + dt.timedelta(days=i), key=uuid.UUID(int=i + 1),
        meta={"tags": ["a", "b"], "rank": i}, email=f"user{i}@example.com", category=categories[i % 5],
    ) for i in range(ROWS)])
    return Product, categories


def viewsets(Product):
    import orjson
    from rest_framework import renderers, serializers, viewsets as drf_viewsets
    from rest_framework.routers import SimpleRouter

    import zembra.rest
    from zembra._views import CompiledLookupMixin

    class OrjsonRenderer(renderers.BaseRenderer):
        """What the published orjson renderers for DRF do."""

        media_type = "application/json"
        format = "json"

        def render(self, data, accepted_media_type=None, renderer_context=None):
            if data is None:
                return b""
            return orjson.dumps(data, default=lambda o: str(o) if isinstance(o, (decimal.Decimal, uuid.UUID))
                                else o.isoformat())

    class DrfProduct(serializers.ModelSerializer):
        class Meta:
            model = Product
            fields = "__all__"

    class OurProduct(zembra.rest.ModelSerializer):
        class Meta:
            model = Product
            fields = "__all__"

    router = SimpleRouter()
    for prefix, serializer, renderer, bases in (
            ("drf", DrfProduct, renderers.JSONRenderer, (drf_viewsets.ModelViewSet,)),
            ("orjson", DrfProduct, OrjsonRenderer, (drf_viewsets.ModelViewSet,)),
            ("zembra", OurProduct, zembra.rest.JSONRenderer, (drf_viewsets.ModelViewSet,)),
            ("lookup", OurProduct, zembra.rest.JSONRenderer, (CompiledLookupMixin, drf_viewsets.ModelViewSet))):
        router.register(prefix, type(prefix, bases, {
            "queryset": Product.objects.order_by("pk"), "serializer_class": serializer,
            "renderer_classes": [renderer], "authentication_classes": [], "permission_classes": []}),
            basename=prefix)
    return router.urls


urlpatterns = []
SIDES = {"zembra.rest ModelSerializer + JSONRenderer": "zembra", "DRF ModelSerializer + JSONRenderer": "drf",
         "DRF ModelSerializer + orjson renderer": "orjson"}


def run():
    from django.db import transaction
    from django.test import Client
    from django.test.utils import override_settings

    Product, categories = setup()
    urlpatterns[:] = viewsets(Product)
    client = Client()
    body = json.dumps({"name": "new product", "description": "text", "quantity": 12, "price": "19.90",
                       "rating": 4.5, "active": True, "released": "2024-05-01", "key": str(uuid.UUID(int=10 ** 6)),
                       "meta": {"tags": ["x"]}, "email": "new@example.com", "category": categories[0].pk})
    pk = Product.objects.order_by("pk").values_list("pk", flat=True)[ROWS // 2]

    def get(path):
        response = client.get(path)
        assert response.status_code == 200, response.content
        return response.content

    def post(path):
        with transaction.atomic():
            response = client.post(path, body, content_type="application/json")
            transaction.set_rollback(True)
        assert response.status_code == 201, response.content
        return json.loads(response.content)

    def same_json(outs):
        values = [json.loads(v) if isinstance(v, bytes) else v for v in outs.values()]
        for value in values[1:]:
            assert _instants(value) == _instants(values[0])

    def same_created(outs):
        values = [{k: v for k, v in o.items() if k not in ("id", "created")} for o in outs.values()]
        assert all(v == values[0] for v in values)

    results = []
    ours = "zembra.rest ModelSerializer + JSONRenderer"
    with override_settings(ROOT_URLCONF=__name__, ALLOWED_HOSTS=["testserver"],
                           REST_FRAMEWORK={"UNAUTHENTICATED_USER": None}):
        for title, path, call, check, repeat in (
                (f"DRF ModelViewSet list: {ROWS} rows of 12 fields", "{}/", get, same_json, 5),
                ("DRF ModelViewSet retrieve: one row of 12 fields", "{}/%d/" % pk, get, same_json, 7),
                ("DRF ModelViewSet create: a 12-field JSON body", "{}/", post, same_created, 7)):
            contenders = {name: functools.partial(call, "/" + path.format(prefix)) for name, prefix in SIDES.items()}
            results.append(compare(title, contenders, ours=ours, repeat=repeat, check=check))
        # get_object() on a compiled lookup query (CompiledLookupMixin) against DRF's.
        retrieve = {"zembra.rest + CompiledLookupMixin": "lookup", "zembra.rest": "zembra",
                    "DRF ModelSerializer + JSONRenderer": "drf"}
        contenders = {name: functools.partial(get, "/%s/%d/" % (prefix, pk)) for name, prefix in retrieve.items()}
        results.append(compare("DRF ModelViewSet retrieve: compiled lookup", contenders,
                               ours="zembra.rest + CompiledLookupMixin", repeat=7, check=same_json))
    return results


def _instants(value):
    """Datetimes compared as instants (the renderers write UTC differently)."""
    if isinstance(value, dict):
        return {k: _instants(v) for k, v in value.items()}
    if isinstance(value, list):
        return [_instants(v) for v in value]
    if isinstance(value, str) and len(value) > 19 and value[10:11] == "T":
        try:
            return dt.datetime.fromisoformat(value.replace("Z", "+00:00"))
        except ValueError:
            return value
    return value


if __name__ == "__main__":
    for r in run():
        print(r.report())

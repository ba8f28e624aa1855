import datetime
import json
import math
import uuid
from decimal import Decimal

from django.test import TestCase

from .compare import comparable
from .models import Category, Product
from .resources import PRODUCTS
from .sample_data import populate

ZEMBRA, DRF, DRF_FAST, ASYNC = "/api/zembra", "/api/drf", "/api/drf-fast", "/api/zembra-async"
FIELDS = [field.name for field in PRODUCTS.fields]


def messages(report):
    """A report's errors in DRF's shape: messages by field, in order."""
    found = {}
    for error in report["errors"]:
        found.setdefault(error["field"], []).append(error["message"])
    return found


def nested(depth):
    value = 1
    for _ in range(depth):
        value = [value]
    return value


class ShopTestCase(TestCase):
    @classmethod
    def setUpTestData(cls):
        populate(products=40, applications=30, seed=7)
        cls.product = Product.objects.order_by("sku").first()
        cls.category = Category.objects.first()

    def get(self, path):
        response = self.client.get(path)
        return response.status_code, response.json()

    def post(self, body, api=ZEMBRA):
        if not isinstance(body, bytes):
            body = json.dumps(body)
        response = self.client.post(f"{api}/products/", body, content_type="application/json")
        return response.status_code, response.json()

    def valid_body(self, **changes):
        return {"sku": "NEW-1", "name": "Pour-over Kettle", "category": self.category.pk,
                "price": "39.90", "weight_kg": 0.8, "attributes": {"litres": 1.0},
                "released_on": "2024-03-01", "created_at": "2024-03-01T12:00:00+02:00", **changes}


class ReadTests(ShopTestCase):
    def test_list_pages_and_fields(self):
        status, items = self.get(f"{ZEMBRA}/products/")
        self.assertEqual((status, len(items)), (200, 40))
        self.assertEqual(list(items[0]), FIELDS)
        self.assertNotIn("reviews", items[0])
        _, page = self.get(f"{ZEMBRA}/products/?limit=5&offset=10")
        self.assertEqual([item["sku"] for item in page], [item["sku"] for item in items[10:15]])
        _, page = self.get(f"{ZEMBRA}/products/?limit=oops&offset=-3")
        self.assertEqual(len(page), 40)

    def test_detail_and_missing(self):
        status, item = self.get(f"{ZEMBRA}/products/{self.product.pk}/")
        self.assertEqual(status, 200)
        self.assertEqual(item["id"], str(self.product.pk))
        self.assertEqual(Decimal(item["price"]), self.product.price)
        self.assertEqual(item["category"], self.product.category_id)
        status, body = self.get(f"{ZEMBRA}/products/{uuid.uuid4()}/")
        self.assertEqual((status, body), (404, {"detail": "Not found."}))

    def test_same_data_as_drf(self):
        for path in ("/products/?limit=40", f"/products/{self.product.pk}/"):
            for api in (DRF, DRF_FAST):
                with self.subTest(path=path, api=api):
                    (_, ours), (_, theirs) = self.get(ZEMBRA + path), self.get(api + path)
                    self.assertEqual(comparable(ours), comparable(theirs))

    def test_rows_route_equals_the_instance_route(self):
        # The list reads rows without instances; the detail view dumps one.
        products = list(Product.objects.all())
        for path, expected in ((f"{ZEMBRA}/products/?limit=7&offset=3", PRODUCTS.dump_many(products[3:10])),
                               (f"{ZEMBRA}/products/{self.product.pk}/", PRODUCTS.dump(self.product))):
            with self.subTest(path=path):
                response = self.client.get(path)
                self.assertEqual(response["Content-Type"], "application/json")
                self.assertEqual(json.loads(response.content), json.loads(json.dumps(expected)))

    def test_streamed_export_is_the_one_shot_list(self):
        from zembra.django import serialize_queryset_json

        from .exports import PRODUCT_SCHEMA

        whole = serialize_queryset_json(Product.objects.all(), PRODUCT_SCHEMA)
        lines = b"".join(self.client.get(f"{ZEMBRA}/products/export/").streaming_content)
        array = b"".join(self.client.get(f"{ZEMBRA}/products/export/?format=array").streaming_content)
        self.assertEqual((array, b"[" + b",".join(lines.splitlines()) + b"]"), (whole, whole))
        self.assertEqual(len(lines.splitlines()), 40)

    def test_text_forms_that_differ_from_drf(self):
        path = f"/products/{self.product.pk}/"
        (_, ours), (_, theirs) = self.get(ZEMBRA + path), self.get(DRF + path)
        self.assertTrue(ours["created_at"].endswith("+00:00"))
        self.assertTrue(theirs["created_at"].endswith("Z"))
        self.assertEqual(list(ours), list(theirs))  # category included, in DRF's order
        for key in ("price", "id", "thumbnail", "released_on"):
            self.assertEqual(ours[key], theirs[key], key)

    def test_stats_agree_with_plain_python(self):
        (_, ours), (_, theirs) = self.get(f"{ZEMBRA}/stats/"), self.get(f"{DRF}/stats/")
        self.assertEqual(ours["high_risk_count"], theirs["high_risk_count"])
        for block in ("price", "financing_risk"):
            self.assertEqual(ours[block]["count"], theirs[block]["count"])
            for key in ("mean", "median", "stdev", "min", "max"):
                self.assertTrue(math.isclose(ours[block][key], theirs[block][key], rel_tol=1e-9),
                                f"{block}.{key}")
        active = Product.objects.filter(is_active=True).count()
        self.assertEqual(ours["price"]["count"], active)


class WriteTests(ShopTestCase):
    def test_valid_product_is_created(self):
        status, body = self.post(self.valid_body())
        self.assertEqual(status, 201, body)
        saved = Product.objects.get(sku="NEW-1")
        self.assertEqual(saved.price, Decimal("39.90"))
        self.assertEqual(saved.created_at, datetime.datetime(2024, 3, 1, 10, tzinfo=datetime.UTC))
        self.assertEqual(body["created_at"], "2024-03-01T10:00:00+00:00")
        self.assertEqual(body, self.get(f"{ZEMBRA}/products/{saved.pk}/")[1])

    def test_numeric_price_goes_through_text(self):
        status, body = self.post(self.valid_body(price=19.9))
        self.assertEqual((status, body["price"]), (201, "19.90"))

    def test_invalid_records_are_reported_as_drf_reports_them(self):
        cases = [{"name": "x" * 121}, {"price": "123456789.999"}, {"price": "1.999"}, {"stock": 2**31},
                 {"stock": -1}, {"name": None}, {"name": ""}, {"price": "cheap"}, {"name": 42, "released_on": 20240301},
                 {"is_active": "maybe"}, {"category": 999_999}, {"category": "1"}, {"category": None},
                 {"sku": self.product.sku}, {"created_at": "yesterday"}, {"attributes": "not json"},
                 {"stock": -5, "price": "cheap", "name": "x" * 121, "category": None}]
        for number, changes in enumerate(cases):
            with self.subTest(changes=changes):
                status, report = self.post(self.valid_body(**{"sku": f"Z-{number}", **changes}))
                drf_status, drf_errors = self.post(self.valid_body(**{"sku": f"D-{number}", **changes}), api=DRF)
                self.assertEqual(status, drf_status)
                if status == 201:
                    continue
                self.assertEqual(messages(report), drf_errors)
                self.assertEqual(list(messages(report)), [name for name in FIELDS if name in drf_errors])
                self.assertEqual(report["error_count"], len(report["errors"]))
        self.assertFalse(Product.objects.filter(name="x" * 121).exists())

    def test_missing_required_field(self):
        body = self.valid_body()
        del body["price"]
        status, report = self.post(body)
        self.assertEqual(status, 400)
        self.assertEqual(messages(report), {"price": ["This field is required."]})

    def test_bad_bodies_are_400_not_500(self):
        cases = [b'{"sku": "A1",', b"[1, 2]", b"NaN", b'{"price": 1e400}', b"\xff\xfe{", b"",
                 b'{"stock": Infinity}']
        for body in cases:
            with self.subTest(body=body):
                status, report = self.post(body)
                self.assertEqual(status, 400)
                self.assertFalse(report["is_valid"])

    def test_odd_values_in_any_field_are_never_500(self):
        odd = [None, True, 0, -1, 2**70, 1.5, 1e308, "", "x" * 5000, "1e999999999", "١٢", "-0",
               "0.0000001", "2024-02-30", "24:00:00", [], {}, [[[]]], {"a": {"b": None}},
               [[1]] * 3, "\ud800", {"deep": nested(20)}]
        names = [*FIELDS, "unknown"]
        for number, (name, value) in enumerate((n, v) for n in names for v in odd):
            with self.subTest(field=name, value=value):
                status, _ = self.post({**self.valid_body(sku=f"ODD-{number}"), name: value})
                self.assertIn(status, (201, 400))

    def test_deeply_nested_values_are_400(self):
        for depth in (100_000,):
            attributes = "[" * depth + "]" * depth
            body = f'{{"sku": "DEEP", "name": "Deep", "category": {self.category.pk}, "price": "1.00", ' \
                   f'"attributes": {attributes}}}'
            with self.subTest(depth=depth):
                self.assertEqual(self.post(body.encode())[0], 400)

    def test_drf_side_accepts_and_rejects_the_same(self):
        for api in (DRF, DRF_FAST):
            with self.subTest(api=api):
                status, created = self.post(self.valid_body(sku=f"NEW-{api}"), api=api)
                self.assertEqual(status, 201)
                _, ours = self.get(f"{ZEMBRA}/products/{created['id']}/")
                self.assertEqual(comparable(created), comparable(ours))
                status, errors = self.post(self.valid_body(name="x" * 121), api=api)
                self.assertEqual((status, list(errors)), (400, ["name"]))

    def test_other_methods_are_refused(self):
        self.assertEqual(self.client.put(f"{ZEMBRA}/products/").status_code, 405)
        self.assertEqual(self.client.post(f"{ZEMBRA}/stats/").status_code, 405)


class AsyncViewTests(ShopTestCase):
    """catalog/async_views.py answers the bytes of the sync views."""

    def test_same_answers_and_rows_as_the_sync_views(self):
        lists = [self.client.get(f"{api}/products/?limit=40&offset=3") for api in (ASYNC, ZEMBRA)]
        self.assertEqual(*[(r.status_code, r.content) for r in lists])
        for label, changes in [("valid", {}), ("invalid", {"price": "cheap", "stock": -1}),
                               ("taken sku", {"sku": self.product.sku})]:
            with self.subTest(label):
                answers = [self.client.post(f"{api}/products/", {**self.valid_body(sku=f"{label}-{api}"), **changes},
                                            content_type="application/json") for api in (ASYNC, ZEMBRA)]
                if label == "valid":
                    created = [r.json() for r in answers]
                    self.assertEqual([r.status_code for r in answers], [201, 201])
                    self.assertEqual(*[{k: v for k, v in c.items() if k not in ("id", "sku")} for c in created])
                    self.assertEqual(created, [self.get(f"{ZEMBRA}/products/{c['id']}/")[1] for c in created])
                else:
                    self.assertEqual(*[(r.status_code, r.content) for r in answers])
        malformed = [self.client.post(f"{api}/products/", b'{"sku": "A1",', content_type="application/json")
                     for api in (ASYNC, ZEMBRA)]
        self.assertEqual(*[(r.status_code, r.content) for r in malformed])

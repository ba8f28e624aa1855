"""The demo's own parts: its timing client and its section of RESULTS.md."""

import importlib.util
import json
import tempfile
from pathlib import Path

from django.test import LiveServerTestCase, SimpleTestCase, TestCase, override_settings

from .models import Category, Product
from .sample_data import populate

_spec = importlib.util.spec_from_file_location(
    "run_demo", Path(__file__).resolve().parents[2] / "run_demo.py")
run_demo = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(run_demo)


@override_settings(STATIC_URL="/static/")  # the live server's file handler needs one
class ClientTests(LiveServerTestCase):
    def test_keep_alive_answers_are_read_whole(self):
        populate(products=120, applications=5, seed=3)
        client = run_demo.Client(self.server_thread.port)
        self.addCleanup(client.close)
        category = Category.objects.first().pk
        # Large and small answers, a body sent, an error: all on one connection.
        for method, path, body, expected in [
                ("GET", "/api/zembra/products/?limit=120", None, 200),
                ("POST", "/api/drf/products/", run_demo.new_product(1, category), 201),
                ("GET", "/api/zembra/products/?limit=1", None, 200),
                ("POST", "/api/zembra/products/", b'{"sku": ', 400),
                ("GET", "/api/drf-fast/products/?limit=121", None, 200)]:
            with self.subTest(method=method, path=path):
                status, content = client.request(method, path, body)
                self.assertEqual(status, expected)
                if method == "GET":
                    self.assertEqual(json.loads(content), self.client.get(path).json())
                else:
                    self.assertIsInstance(json.loads(content), dict)


class ResultsSectionTests(SimpleTestCase):
    def section(self, value):
        return [run_demo.BEGIN, f"table {value}", run_demo.END]

    def test_section_is_replaced_and_the_rest_kept(self):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "RESULTS.md"
            path.write_text("# Benchmark results\n\n| a | b |\n")
            run_demo.write_results(self.section(1), path)
            path.write_text(path.read_text() + "\nafter\n")
            run_demo.write_results(self.section(2), path)
            run_demo.write_results(self.section(3), path)
            text = path.read_text()
        self.assertEqual(text.count(run_demo.BEGIN), 1)
        self.assertEqual(text, "# Benchmark results\n\n| a | b |\n\n"
                               f"{run_demo.BEGIN}\ntable 3\n{run_demo.END}\nafter\n")

    def test_ratios_and_goals(self):
        times = {"zembra": (0.002, 0.001), "DRF": (0.012, 0.004), "DRF + orjson": (0.008, 0.003)}
        [header, _, row] = run_demo.table([("list", "list", times)])
        self.assertIn("| DRF / zembra |", header)
        self.assertEqual(row, "| list | 2.00 | 12.00 | 8.00 | 6.0x (met: 5x) | 4.0x (not met: 5x) | 4.0x | 3.0x |")
        # Without the server's CPU times (no /proc) the table has no such columns.
        times["DRF"] = (0.012, None)
        [header, _, row] = run_demo.table([("stats", "stats", times)])
        self.assertNotIn("CPU", header)
        self.assertEqual(row, "| stats | 2.00 | 12.00 | 8.00 | 6.0x | 4.0x |")

    def test_viewset_ratios_against_ours_and_the_floor(self):
        times = {"DRF": (0.010, 0.008), "zembra.rest": (0.004, 0.002), "floor": (0.002, 0.001)}
        [header, _, row] = run_demo.viewset_table([("retrieve", "retrieve", times)])
        self.assertIn("| DRF / zembra.rest | DRF / floor |", header)
        self.assertEqual(row, "| retrieve | 10.00 | 4.00 | 2.00 | 2.5x (met: 2x) | 5.0x | 4.0x |")
        self.assertEqual(run_demo.ratio_cell(1.97, 2.0), "1.97x (not met: 2x)")

    def test_snippets_and_blog_ratios(self):
        rows = [("page", "posts: page of 100", {"DRF": (0.010, 0.008), "zembra.rest": (0.002, 0.004)}),
                ("other", "no goal", {"DRF": (0.003, None), "zembra.rest": (0.002, 0.001)})]
        [header, _, page, other] = run_demo.rest_table(rows)
        self.assertEqual(header, "| Request | DRF ms | zembra.rest ms | DRF / zembra.rest |")
        self.assertEqual((page, other), ("| posts: page of 100 | 10.00 | 2.00 | 5.0x (met: 5x) |",
                                         "| no goal | 3.00 | 2.00 | 1.5x |"))
        self.assertIn("| 5.0x (met: 5x) | 2.0x |", run_demo.rest_table(rows[:1])[2])

    def test_async_ratios_beside_the_sync_ones(self):
        times = {"zembra async": (0.002, 0.001), "zembra": (0.0025, 0.002), "DRF": (0.010, 0.004)}
        waitress = [("list", "list", {"zembra": (0.001, None), "DRF": (0.006, None)})]
        [header, _, listed, created] = run_demo.asgi_table([("list", "list", times), ("create", "create", times)],
                                                           waitress)
        self.assertIn("| DRF / zembra async | DRF / zembra | DRF / zembra through waitress |", header)
        self.assertEqual(listed, "| list | 2.00 | 2.50 | 10.00 | 5.0x | 4.0x | 6.0x | 4.0x |")
        self.assertEqual(created, "| create | 2.00 | 2.50 | 10.00 | 5.0x | 4.0x | - | 4.0x |")


class ViewsetAgreementTests(TestCase):
    """The one ModelViewSet answers alike with DRF's serializer and zembra.rest's."""

    @classmethod
    def setUpTestData(cls):
        populate(products=30, applications=1, seed=5)

    def test_same_statuses_and_bodies(self):
        product = self.client.get("/api/viewset/drf/products/?limit=1").json()[0]
        for label, method, path, body in run_demo.viewset_requests(product, "DEMO-AGREE"):
            answers = []
            for prefix in (run_demo.VIEWSETS["DRF"], run_demo.VIEWSETS["zembra.rest"]):
                payload = body(prefix) if callable(body) else body
                if method == "GET":
                    response = self.client.get(prefix + path)
                else:
                    payload = payload if isinstance(payload, str) else json.dumps(payload)
                    response = self.client.post(prefix + path, payload, content_type="application/json")
                answers.append((response.status_code, response.json()))
            with self.subTest(label):
                (status_a, a), (status_b, b) = answers
                self.assertEqual(status_a, status_b)
                self.assertTrue(run_demo.same_answer(a, b, created=method == "POST"), f"{a!r:.300} {b!r:.300}")
                if status_a == 201:  # both saved the same values
                    rows = Product.objects.filter(sku__startswith="DEMO-AGREE").values()
                    first, second = ({k: v for k, v in row.items() if k not in ("id", "sku")} for row in rows)
                    self.assertEqual(first, second)

    def test_floor_answers_drf_answers(self):
        product = self.client.get("/api/viewset/drf/products/?limit=1").json()[0]
        for path in ("/products/?limit=5", "/paged/?limit=5&offset=2", f"/products/{product['id']}/"):
            with self.subTest(path):
                floor, drf = (self.client.get(run_demo.VIEWSETS[name] + path).json() for name in ("floor", "DRF"))
                self.assertTrue(run_demo.same_answer(floor, drf))
                self.assertNotEqual(floor, [])

"""The snippets and blog APIs answer byte for byte alike with DRF's classes
and with zembra.rest's: statuses, content types, bodies (hyperlinks differ
only by the build's own URL prefix), Location headers and saved rows."""

import json
import re

from django.test import TestCase, override_settings
from rest_framework.test import APIClient

from .models import Author, Post, Snippet
from .sample_data import populate

SIDES = ("drf", "zembra")
# A time zone of DRF's output (the current one) that is not UTC and not whole hours.
ZONES = ("UTC", "America/St_Johns")


class AgreementTestCase(TestCase):
    @classmethod
    def setUpTestData(cls):
        populate(snippets=520, posts=620, seed=11)
        cls.snippet = Snippet.objects.order_by("id")[17]
        cls.user = cls.snippet.owner
        cls.post = Post.objects.order_by("id")[33]
        cls.author = Author.objects.order_by("id").first()

    def setUp(self):
        self.api = APIClient()

    def answer(self, side, api, method, path, body=None):
        """(status, content type, Location, body) with the build's prefix made the DRF build's."""
        url = f"/api/{api}/{side}/{path}"
        if method == "GET":
            response = self.api.get(url)
        else:
            payload = body if isinstance(body, bytes) else json.dumps(body)
            response = self.api.post(url, payload, content_type="application/json")
        own, common = f"/api/{api}/{side}/".encode(), f"/api/{api}/drf/".encode()
        return (response.status_code, response["Content-Type"],
                response.get("Location", "").replace(own.decode(), common.decode()),
                response.content.replace(own, common))

    def assertSameAnswers(self, api, method, path, body=None):
        drf, ours = (self.answer(side, api, method, path, body) for side in SIDES)
        self.assertEqual(ours[:3], drf[:3])
        self.assertEqual(ours[3], drf[3])
        return drf


class ReadTests(AgreementTestCase):
    def test_every_read_endpoint(self):
        snippet, user, post = self.snippet.pk, self.user.pk, self.post.pk
        cases = [
            ("tutorial", ""), ("tutorial", "snippets/?limit=500"), ("tutorial", "snippets/?limit=9&offset=515"),
            ("tutorial", "snippets/?offset=600"), ("tutorial", f"snippets/{snippet}/"),
            ("tutorial", f"snippets/{snippet}.json"), ("tutorial", "snippets.json?limit=3"),
            ("tutorial", f"snippets/{snippet}/highlight/"), ("tutorial", f"snippets/{snippet}/highlight.html"),
            ("tutorial", "snippets/999999/"), ("tutorial", "users/"), ("tutorial", f"users/{user}/"),
            ("blog", ""), ("blog", "posts/"), ("blog", "posts/?page_size=500"), ("blog", "posts/?page=2"),
            ("blog", "posts/?page=7"), ("blog", "posts/?page=last"), ("blog", "posts/?page=8"),
            ("blog", "posts/?page=oops"), ("blog", "posts/?page_size=1000&page=2"), ("blog", f"posts/{post}/"),
            ("blog", "posts/0/"),
        ]
        for zone in ZONES:
            for api, path in cases:
                with self.subTest(zone=zone, api=api, path=path), override_settings(TIME_ZONE=zone):
                    status, *_ = self.assertSameAnswers(api, "GET", path)
                    self.assertIn(status, (200, 404))

    def test_the_hyperlinks_are_the_builds_own(self):
        for side in SIDES:
            with self.subTest(side=side):
                item = self.api.get(f"/api/tutorial/{side}/snippets/{self.snippet.pk}/").json()
                prefix = f"http://testserver/api/tutorial/{side}/snippets/{self.snippet.pk}/"
                # The field's format="html" applies only to a request with a format suffix.
                self.assertEqual((item["url"], item["highlight"]), (prefix, prefix + "highlight/"))
                self.assertEqual(self.api.get(item["highlight"]).content.decode(), self.snippet.highlighted)


class WriteTests(AgreementTestCase):
    def created(self, answer):
        """A created answer with its new key (different per build) neutralised."""
        status, kind, location, content = answer
        if status != 201:
            return answer
        key = json.loads(content)["id"]
        pattern = rb"(?<![0-9])%d(?![0-9])" % key
        return status, kind, re.sub(pattern.decode(), "KEY", location), re.sub(pattern, b"KEY", content)

    def assertSameCreates(self, api, path, body):
        drf, ours = (self.created(self.answer(side, api, "POST", path, body)) for side in SIDES)
        self.assertEqual(ours, drf)
        return drf[0]

    def test_snippet_creates(self):
        good = {"title": "Mine", "code": "print('hé')\n", "linenos": True, "language": "python", "style": "monokai"}
        cases = [good, {"code": "x = 1\n"}, {**good, "language": "klingon", "style": 3, "linenos": "maybe"},
                 {**good, "code": ""}, {**good, "title": "x" * 101}, {}, {"code": None}, [good],
                 b'{"code": ', b"", {**good, "owner": "someone else", "id": 5, "highlight": "x"}]
        before = Snippet.objects.order_by("-id").values_list("id", flat=True)[0]
        self.api.force_authenticate(self.user)
        for body in cases:
            with self.subTest(body=body):
                self.assertSameCreates("tutorial", "snippets/", body)
        saved = [{key: value for key, value in row.items() if key not in ("id", "created")}
                 for row in Snippet.objects.filter(pk__gt=before).order_by("id").values()]
        self.assertEqual(len(saved), 6)
        self.assertEqual(saved[0::2], saved[1::2])
        self.assertEqual({row["owner_id"] for row in saved}, {self.user.pk})

    def test_anonymous_snippet_create_is_refused(self):
        self.assertEqual(self.assertSameCreates("tutorial", "snippets/", {"code": "1"}), 403)

    def test_post_creates(self):
        good = {"author_id": self.author.pk, "title": "Hello", "slug": "hello", "body": "one two three",
                "published": "2024-05-01T12:00:00.5+02:00", "metadata": {"a": [1, 2.5, None], "ß": "ü"},
                "rating": "4.50"}
        cases = [good, {**good, "rating": 4.555}, {**good, "rating": None, "metadata": []},
                 {**good, "author_id": 999_999, "slug": "not a slug!", "published": "yesterday", "rating": "123.456"},
                 {**good, "author_id": "x", "title": "", "body": None}, {**good, "author": {"name": "n"}},
                 {key: value for key, value in good.items() if key != "author_id"}, {}, b"[1, 2]", b"NaN"]
        before = Post.objects.order_by("-id").values_list("id", flat=True)[0]
        for zone in ZONES:
            for body in cases:
                with self.subTest(zone=zone, body=body), override_settings(TIME_ZONE=zone):
                    self.assertSameCreates("blog", "posts/", body)
        saved = [{key: value for key, value in row.items() if key != "id"}
                 for row in Post.objects.filter(pk__gt=before).order_by("id").values()]
        self.assertEqual(len(saved), 12)
        self.assertEqual(saved[0::2], saved[1::2])


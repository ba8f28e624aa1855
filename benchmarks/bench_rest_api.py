"""Two everyday DRF APIs, DRF against the zembra.rest drop-in, in one process.

The serializers and viewsets are the example shop's (examples/shop/api/
definitions.py: the tutorial's snippets with hyperlinks, a blog's posts with a
nested author, tag slugs, a method field and page-number pagination), built
once on DRF's classes, once on DRF's with drf-orjson-renderer's renderer, once
on zembra.rest's; models are copies of the shop's, on in-memory SQLite. Calls
go through Django's test client.

Then the cost of one field zembra.rest leaves to DRF's code: an all-native
serializer against the same serializer plus that one field, on a list of 500
snippets already read (no query is timed).
"""

import functools
import random
import re
import sys
from decimal import Decimal
from pathlib import Path
from types import SimpleNamespace

from harness import Comparison, compare

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "examples" / "shop"))

ROWS = 1000
PAGE = 100
LIST = 500
GOALS = {"list": 6.0, "page": 6.0, "retrieve": 2.0}  # DRF's time / ours


@functools.cache
def setup():
    """Configures Django (unless a benchmark did), defines copies of the
    shop's models and fills their tables."""
    import django
    from django.conf import settings

    if not settings.configured:
        settings.configure(
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
            INSTALLED_APPS=[], USE_TZ=True, TIME_ZONE="UTC", DEFAULT_AUTO_FIELD="django.db.models.BigAutoField")
        django.setup()
    import datetime as dt

    from django.db import connection, models

    class Meta:
        app_label = "bench_rest_api"

    def model(class_name, /, **fields):
        return type(class_name, (models.Model,), {"__module__": __name__, "Meta": Meta, **fields})

    User = model("User", username=models.CharField(max_length=150, unique=True))
    Snippet = model("Snippet", created=models.DateTimeField(auto_now_add=True),
                    title=models.CharField(max_length=100, blank=True, default=""), code=models.TextField(),
                    linenos=models.BooleanField(default=False),
                    language=models.CharField(choices=[("python", "Python"), ("rust", "Rust")], default="python",
                                              max_length=100),
                    style=models.CharField(choices=[("friendly", "friendly"), ("monokai", "monokai")],
                                           default="friendly", max_length=100),
                    owner=models.ForeignKey(User, related_name="snippets", on_delete=models.CASCADE),
                    highlighted=models.TextField(),
                    Meta=type("Meta", (), {"app_label": "bench_rest_api", "ordering": ["created", "id"],
                                           "indexes": [models.Index(fields=["created", "id"],
                                                                    name="bench_snippet_listing")]}))
    Author = model("Author", name=models.CharField(max_length=100), email=models.EmailField(unique=True),
                   bio=models.TextField(blank=True, default=""))
    Tag = model("Tag", name=models.CharField(max_length=50), slug=models.SlugField(unique=True))
    Post = model("Post", author=models.ForeignKey(Author, related_name="posts", on_delete=models.CASCADE),
                 title=models.CharField(max_length=200), slug=models.SlugField(max_length=200),
                 body=models.TextField(), published=models.DateTimeField(db_index=True),
                 tags=models.ManyToManyField(Tag, related_name="posts", blank=True),
                 metadata=models.JSONField(default=dict, blank=True),
                 rating=models.DecimalField(max_digits=4, decimal_places=2, null=True, blank=True))
    with connection.schema_editor() as editor:
        for each in (User, Snippet, Author, Tag, Post):
            editor.create_model(each)

    rng = random.Random(5)
    users = User.objects.bulk_create(User(username=f"user{i}") for i in range(6))
    Snippet.objects.bulk_create(Snippet(
        title=f"Snippet {i}", code=f"print({i})\n" * rng.randrange(1, 4), linenos=i % 3 == 0,
        language=rng.choice(["python", "rust"]), style=rng.choice(["friendly", "monokai"]),
        owner=rng.choice(users), highlighted=f"<pre>print({i})</pre>") for i in range(ROWS))
    authors = Author.objects.bulk_create(Author(name=f"Author {i}", email=f"a{i}@example.com", bio="Writes.")
                                         for i in range(10))
    tags = Tag.objects.bulk_create(Tag(name=f"Tag {i}", slug=f"tag-{i}") for i in range(15))
    epoch = dt.datetime(2024, 1, 1, tzinfo=dt.UTC)
    posts = Post.objects.bulk_create(Post(
        author=rng.choice(authors), title=f"Post {i}", slug=f"post-{i}", body="word " * rng.randrange(5, 120),
        published=epoch + dt.timedelta(seconds=rng.randrange(10**7), microseconds=rng.randrange(10**6)),
        metadata={"views": i, "featured": i % 10 == 0, "links": [f"https://example.com/{i}"]},
        rating=Decimal(rng.randrange(1000)) / 100) for i in range(ROWS))
    Through = Post.tags.through
    Through.objects.bulk_create(Through(post=post, tag=tag) for post in posts
                                for tag in rng.sample(tags, rng.randrange(1, 6)))
    return SimpleNamespace(User=User, Snippet=Snippet, Author=Author, Tag=Tag, Post=Post)


def kits():
    from drf_orjson_renderer.renderers import ORJSONRenderer
    from api.definitions import DRF, ZEMBRA
    return {"zembra.rest": ZEMBRA, "DRF": DRF, "DRF + orjson renderer": SimpleNamespace(
        **{**vars(DRF), "JSONRenderer": ORJSONRenderer})}


def url_patterns(models):
    from django.urls import include, path

    from api.definitions import build

    patterns = []
    for number, kit in enumerate(kits().values()):
        api = build(kit, models)
        patterns += [path(f"t{number}/", include((api.tutorial_urls(), "tutorial"), namespace=f"t{number}")),
                     path(f"b{number}/", include((api.blog_urls(), "blog"), namespace=f"b{number}"))]
    return patterns


urlpatterns = []


class GoalComparison(Comparison):
    def __init__(self, comparison, goal):
        super().__init__(comparison.name, comparison.ours, comparison.timings)
        self.goal = goal

    def report(self):
        ratio = self.timings["DRF"] / self.timings[self.ours]
        met = "met" if ratio >= self.goal else "not met"
        return f"{super().report()}\n  goal: DRF / zembra.rest >= {self.goal:g}x ({met}: {ratio:.2f}x)"


def same_bytes(outs):
    """DRF's bytes and ours, each build's URL prefix made alike (the orjson
    renderer writes datetimes its own way: not compared)."""
    ours, drf = (re.sub(rb"/([tb])[0-9]/", rb"/\1N/", outs[name]) for name in ("zembra.rest", "DRF"))
    assert ours == drf, "zembra.rest answered differently from DRF"


def endpoint_comparisons(models):
    from django.test import Client

    client = Client()
    snippet = models.Snippet.objects.order_by("id").values_list("id", flat=True)[ROWS // 2]
    post = models.Post.objects.order_by("id").values_list("id", flat=True)[ROWS // 2]

    def get(path):
        response = client.get(path)
        assert response.status_code == 200, response.content
        return response.content

    cases = [
        ("list", f"snippets (HyperlinkedModelSerializer) list of {LIST}", "t{}/snippets/?limit=%d" % LIST),
        ("retrieve", "snippets retrieve", "t{}/snippets/%d/" % snippet),
        ("list", f"posts (nested author, tag slugs, method field) page of {LIST}", "b{}/posts/?page_size=%d" % LIST),
        ("page", f"posts page of {PAGE} (PageNumberPagination)", "b{}/posts/?page=3"),
        ("retrieve", "posts retrieve", "b{}/posts/%d/" % post),
    ]
    results = []
    for goal, title, path in cases:
        contenders = {name: functools.partial(get, "/" + path.format(number))
                      for number, name in enumerate(kits())}
        results.append(GoalComparison(compare(f"DRF API in-process: {title}", contenders, ours="zembra.rest",
                                              repeat=5, check=same_bytes), GOALS[goal]))
    return results


class FieldComparison(Comparison):
    """One field left to DRF's code: what it costs DRF, what it costs us."""

    def ratios(self):
        # The summary table's peer: DRF with the same field (the other rows are the report's).
        return {"DRF, with the field": self.timings["DRF, with the field"] / self.timings[self.ours]}

    def report(self):
        t = self.timings
        alone = t["DRF, with the field"] - t["DRF, all-native fields"]
        extra = t[self.ours] / t["zembra.rest, all-native fields"]
        return (f"{super().report()}\n  DRF's time for the field alone: {alone * 1e6:.1f} us per {LIST} rows; "
                f"zembra.rest with it / zembra.rest all-native: {extra:.2f}x")


def field_comparisons(models):
    from rest_framework import serializers

    class Shout(serializers.Field):
        def to_representation(self, value):
            return value.upper()

    extra_fields = {
        "SerializerMethodField": lambda: serializers.SerializerMethodField(),
        'ReadOnlyField(source="title")': lambda: serializers.ReadOnlyField(source="title"),
        'CharField(source="owner_id", read_only=True)': lambda: serializers.CharField(source="owner_id",
                                                                                     read_only=True),
        "custom Field with to_representation": lambda: Shout(source="title", read_only=True),
    }
    fields = ["id", "created", "title", "code", "linenos", "language", "style"]
    both = kits()
    rows = list(models.Snippet.objects.order_by("id")[:LIST])

    def serializer(kit, extra):
        body = {"Meta": type("Meta", (), {"model": models.Snippet, "fields": fields + ["extra"] * bool(extra)}),
                "get_extra": lambda self, snippet: len(snippet.code)}
        if extra:
            body["extra"] = extra()
        return type("SnippetFields", (kit.ModelSerializer,), body)

    def dump(cls, renderer):
        return renderer.render(cls(rows, many=True).data)

    results = []
    for label, extra in extra_fields.items():
        contenders = {}
        for side in ("zembra.rest", "DRF"):
            renderer = both[side].JSONRenderer()
            for suffix, field in ((", with the field", extra), (", all-native fields", None)):
                contenders[side + suffix] = functools.partial(dump, serializer(both[side], field), renderer)
        comparison = compare(f"one field left to DRF's code, {LIST} snippets: {label}", contenders,
                             ours="zembra.rest, with the field", repeat=5, check=same_field_bytes)
        results.append(FieldComparison(comparison.name, comparison.ours, comparison.timings))
    return results


def same_field_bytes(outs):
    assert outs["zembra.rest, with the field"] == outs["DRF, with the field"]
    assert outs["zembra.rest, all-native fields"] == outs["DRF, all-native fields"]


def run():
    from django.conf import settings
    from django.test.utils import override_settings

    models = setup()
    urlpatterns[:] = url_patterns(models)
    # An installed app: Django knows the reverse side of a relation (the
    # posts of a tag, for prefetching) only between installed apps' models.
    with override_settings(INSTALLED_APPS=[*settings.INSTALLED_APPS, "bench_rest_api"],
                           ROOT_URLCONF=__name__, ALLOWED_HOSTS=["testserver"],
                           REST_FRAMEWORK={"UNAUTHENTICATED_USER": None, "DEFAULT_AUTHENTICATION_CLASSES": []}):
        return endpoint_comparisons(models) + field_comparisons(models)


if __name__ == "__main__":
    for r in run():
        print(r.report())

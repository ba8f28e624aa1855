"""Every Python block of the README runs as a reader would paste it.

A block whose first line is a comment naming a file (`# myapp/views.py`)
becomes that file of a small Django project; `# myapp/listings.py
(continued)` appends to the file an earlier block began. The others run as
scripts, each on its own. The project's views are then called through
Django's test client; nothing the blocks use is defined by the test."""

import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
FILE_BLOCK = re.compile(r"# ([\w/]+\.py)( \(continued\))?\n")

DRIVER = textwrap.dedent('''
    import json
    import django
    from django.conf import settings
    settings.configure(
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
        INSTALLED_APPS=["myapp"], ROOT_URLCONF="urls", USE_TZ=True, ALLOWED_HOSTS=["*"],
        DEFAULT_AUTO_FIELD="django.db.models.BigAutoField", REST_FRAMEWORK={"UNAUTHENTICATED_USER": None})
    django.setup()
    from django.apps import apps
    from django.db import connection
    from django.test import Client
    from myapp.models import Article, Author, Tag
    with connection.schema_editor() as editor:
        for model in apps.get_app_config("myapp").get_models():
            editor.create_model(model)
    ada = Author.objects.create(name="Ada")
    red, blue = Tag.objects.create(name="red"), Tag.objects.create(name="blue")
    client = Client()

    def post(path, body):
        return client.post(path, json.dumps(body), content_type="application/json")

    body = {"title": "Hello", "slug": "hello", "price": "9.9", "published": "2024-05-01",
            "author": ada.pk, "tags": [blue.pk, red.pk], "created": "ignored: read-only"}
    created = post("/articles/", body)
    assert created.status_code == 201, created.content
    article = created.json()
    assert article["id"] == Article.objects.get().pk and article["author"] == ada.pk, article
    assert sorted(article["tags"]) == [red.pk, blue.pk] and article["status"] == "draft", article
    detail = client.get(f"/articles/{article['id']}/").json()
    assert detail == article and detail["price"] == "9.90", detail
    assert client.get("/articles/all/").json() == [article]
    bad_cases = [({**body, "slug": "other", "price": "9.999"}, "price", "max_decimal_places"),
                 ({**body, "slug": "other", "published": "May"}, "published", "invalid"),
                 ({**body, "slug": "hello"}, "slug", "unique"),
                 ({**body, "slug": "other", "author": 999}, "author", "does_not_exist"),
                 ({**body, "slug": "other", "status": "gone"}, "status", "invalid_choice"),
                 ({"title": "x" * 101}, "author", "required"),
                 ([], "non_field_errors", "invalid")]
    for bad, field, code in bad_cases:
        answer = post("/articles/", bad)
        assert answer.status_code == 400, (bad, answer.content)
        assert (field, code) in [(e["field"], e["code"]) for e in answer.json()["errors"]], answer.content
    api = client.get("/api/articles/").json()
    assert [{**a, "created": None} for a in api] == [{**article, "created": None}], api
    made = post("/api/articles/", {**body, "slug": "second", "tags": []})
    assert made.status_code == 201 and made.json()["tags"] == [], made.content
    assert post("/api/articles/", {**body, "slug": "second"}).json() == {
        "slug": ["article with this slug already exists."]}
    Article.objects.create(title="Draft", slug="draft", price="1", author=ada)
    rows = client.get("/listings/rows/").json()
    assert [(r["slug"], r["price"], r["published"]) for r in rows] == [
        ("hello", "9.90", "2024-05-01"), ("second", "9.90", "2024-05-01"), ("draft", "1.00", None)], rows
    published = client.get("/listings/published/").json()
    assert sorted(r["slug"] for r in published) == ["hello", "second"], published
    print("ok")
''')

URLS = textwrap.dedent('''
    from django.urls import path
    from myapp import api, listings, views
    urlpatterns = [
        path("listings/rows/", listings.article_rows),
        path("listings/published/", listings.published_articles),
        path("articles/", views.article_create),
        path("articles/all/", views.article_list),
        path("articles/<int:pk>/", views.article_detail),
        *api.router.urls,
    ]
''')


def run(code, cwd):
    done = subprocess.run([sys.executable, "-c", code], cwd=cwd, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.mark.parametrize("block", [b for b in BLOCKS if not FILE_BLOCK.match(b)])
def test_script_blocks_run(block, tmp_path):
    run(block, tmp_path)


def test_django_quick_start_runs(tmp_path):
    files = [b for b in BLOCKS if FILE_BLOCK.match(b)]
    assert files, "the README has no project files"
    (tmp_path / "myapp").mkdir()
    (tmp_path / "myapp" / "__init__.py").write_text("")
    (tmp_path / "urls.py").write_text(URLS)
    texts = {}
    for block in files:
        name, continued = FILE_BLOCK.match(block).groups()
        assert (name in texts) == bool(continued), f"{name}: a continued block must follow its file's first block"
        texts[name] = texts.get(name, "") + block
    for name, text in texts.items():
        (tmp_path / name).write_text(text)
    assert run(DRIVER, tmp_path).strip().endswith("ok")

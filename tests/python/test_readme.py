"""Every Python block of the README runs as written.

A block whose first line is a comment naming a file (`# myapp/views.py`)
becomes that file of a small Django project; the others run as scripts.
The project's views are then called through Django's test client."""

import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
FILE_BLOCK = re.compile(r"# ([\w/]+\.py)\n")

DRIVER = textwrap.dedent('''
    import json
    import django
    from django.conf import settings
    settings.configure(
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
        INSTALLED_APPS=["myapp"], ROOT_URLCONF="urls", USE_TZ=True, ALLOWED_HOSTS=["*"],
        DEFAULT_AUTO_FIELD="django.db.models.BigAutoField")
    django.setup()
    from django.db import connection
    from django.test import Client
    from myapp.models import Article
    with connection.schema_editor() as editor:
        editor.create_model(Article)
    client = Client()
    body = {"title": "Hello", "body": "text", "price": "9.90", "published": "2024-05-01"}
    created = client.post("/articles/", json.dumps(body), content_type="application/json")
    assert created.status_code == 201, created.content
    pk = Article.objects.get().pk
    assert client.get(f"/articles/{pk}/").json()["price"] == "9.90"
    assert client.get("/articles/all/").json()[0]["published"] == "2024-05-01"
    for bad in ({**body, "price": "9.999"}, {**body, "published": "May"}, [], {"title": "x" * 101}):
        answer = client.post("/articles/", json.dumps(bad), content_type="application/json")
        assert answer.status_code == 400, (bad, answer.content)
    print("ok")
''')

URLS = textwrap.dedent('''
    from django.urls import path
    from myapp import views
    urlpatterns = [
        path("articles/", views.article_create),
        path("articles/all/", views.article_list),
        path("articles/<int:pk>/", views.article_detail),
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
    for block in files:
        (tmp_path / FILE_BLOCK.match(block).group(1)).write_text(block)
    assert run(DRIVER, tmp_path).strip().endswith("ok")

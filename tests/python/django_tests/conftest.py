"""Django configured for the tests, holding the tables of the test app's models.

The database is SQLite in memory unless ZEMBRA_TEST_DATABASE_URL names a
PostgreSQL database (postgresql://user[:password]@[host][:port]/name, a Unix
socket directory as ?host=/dir). `make test-postgres` starts a throwaway
cluster with scripts/pg-cluster.sh and runs this directory again with it set.

For tests that compare databases:
- the `db` fixture is the connection, tables created; `db.vendor` says which
  database this run uses ("sqlite" or "postgresql"), `db.alias` its alias;
- `@pytest.mark.database("postgresql")` (any vendors) runs a test only on
  those databases and skips it, saying why, on the others.
A differential test written against `db` runs once per database: the suite
runs on SQLite in `make test-python` and on PostgreSQL in `make test-postgres`.
"""

import os
from urllib.parse import parse_qsl, unquote, urlsplit

import django
import pytest
from django.conf import settings

DATABASE_URL_VARIABLE = "ZEMBRA_TEST_DATABASE_URL"


def database_settings(url):
    """Django's settings for the database the URL names; SQLite in memory
    without one."""
    if not url:
        return {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}
    parts = urlsplit(url)
    if parts.scheme not in ("postgres", "postgresql"):
        raise ValueError(f"{DATABASE_URL_VARIABLE}: only postgresql:// URLs are supported, not {url!r}")
    query = dict(parse_qsl(parts.query))
    return {
        "ENGINE": "django.db.backends.postgresql",
        "NAME": unquote(parts.path.lstrip("/")),
        "USER": unquote(parts.username or ""),
        "PASSWORD": unquote(parts.password or ""),
        "HOST": query.get("host") or unquote(parts.hostname or ""),
        "PORT": str(parts.port or query.get("port") or ""),
    }


if not settings.configured:
    settings.configure(
        DATABASES={"default": database_settings(os.environ.get(DATABASE_URL_VARIABLE))},
        INSTALLED_APPS=["django_tests.testapp"],
        USE_TZ=True,
        TIME_ZONE="UTC",
        DEFAULT_AUTO_FIELD="django.db.models.BigAutoField",
    )
    django.setup()


def pytest_configure(config):
    config.addinivalue_line("markers", "database(*vendors): run only on these databases ('sqlite', 'postgresql')")


def pytest_runtest_setup(item):
    marker = item.get_closest_marker("database")
    if marker is not None:
        from django.db import connection

        if connection.vendor not in marker.args:
            pytest.skip(f"needs {' or '.join(marker.args)}; this run uses {connection.vendor}")


@pytest.fixture(scope="session")
def db():
    from django.apps import apps
    from django.db import connection

    models = list(apps.get_app_config("testapp").get_models())
    # A database that outlives the run (not the in-memory one, nor the
    # throwaway cluster) may still hold the tables of an interrupted run.
    existing = set(connection.introspection.table_names())
    with connection.schema_editor() as editor:
        for model in reversed(models):
            if model._meta.db_table in existing:
                editor.delete_model(model)
        for model in models:
            editor.create_model(model)
    yield connection
    with connection.schema_editor() as editor:
        for model in reversed(models):
            editor.delete_model(model)
    connection.close()

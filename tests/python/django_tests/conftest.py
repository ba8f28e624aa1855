"""Django configured for the tests: an in-memory SQLite database holding the
tables of the test app's models."""

import django
import pytest
from django.conf import settings

if not settings.configured:
    settings.configure(
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
        INSTALLED_APPS=["django_tests.testapp"],
        USE_TZ=True,
        TIME_ZONE="UTC",
        DEFAULT_AUTO_FIELD="django.db.models.BigAutoField",
    )
    django.setup()


@pytest.fixture(scope="session")
def db():
    from django.apps import apps
    from django.db import connection

    with connection.schema_editor() as editor:
        for model in apps.get_app_config("testapp").get_models():
            editor.create_model(model)
    return connection

"""A small Django site served by uvicorn for test_asgi_server.py:
``python -m django_tests.asgi_site DATABASE_FILE``.

Each route exists twice, as an ``async def`` view on the async routes of
zembra.django and as a plain view on the sync ones, so that the test can
compare both through a real ASGI server. The database is an SQLite file of
its own (the server's commits must not reach the test run's database), its
tables created and a few rows seeded at start. The line ``listening on PORT``
on standard output says which free port of 127.0.0.1 was taken.
"""

import os
import socket
import sys
import threading
import time

import django
from django.conf import settings


def configure(database):
    settings.configure(
        DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": database}},
        INSTALLED_APPS=["django_tests.testapp"],
        ROOT_URLCONF="django_tests.asgi_views",
        ALLOWED_HOSTS=["127.0.0.1"],
        USE_TZ=True,
        TIME_ZONE="UTC",
        DEFAULT_AUTO_FIELD="django.db.models.BigAutoField",
    )
    django.setup()


def create_tables():
    from django.apps import apps
    from django.db import connection

    with connection.schema_editor() as editor:
        for model in apps.get_app_config("testapp").get_models():
            editor.create_model(model)
    connection.close()


def seed():
    import datetime
    import decimal

    from django.db import connection

    from django_tests.testapp.models import Article, Author, Label, Sample

    author = Author.objects.create(name="Ada")
    labels = [Label.objects.create(name=name) for name in ("red", "blue")]
    for i in range(3):
        article = Article.objects.create(title=f"t{i}", slug=f"s{i}", price="1.50", author=author if i else None)
        article.labels.set(labels[:i])
    Sample.objects.create(text="é\"\n", count=-3, money=decimal.Decimal("12.30"), flag=True,
                          day=datetime.date(2024, 2, 29), ratio=0.1)
    Sample.objects.create()
    # Enough rows that a stream of them is still being written when a client leaves.
    Sample.objects.bulk_create(Sample(text="x" * 300, count=i) for i in range(3000))
    connection.close()


def exit_when_orphaned(parent_pid):
    """Stops this process once the test run that started it is gone."""
    def watch():
        while os.getppid() == parent_pid:
            time.sleep(0.5)
        os._exit(0)
    threading.Thread(target=watch, daemon=True).start()


def main(database, parent_pid):
    exit_when_orphaned(parent_pid)
    configure(database)
    create_tables()
    seed()
    import uvicorn
    from django.core.asgi import get_asgi_application

    # Listening before uvicorn starts, so that requests wait for it; IPPROTO_TCP
    # named, as asyncio turns Nagle's algorithm off only on such sockets.
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    listener.bind(("127.0.0.1", 0))
    listener.listen()
    print(f"listening on {listener.getsockname()[1]}", flush=True)
    config = uvicorn.Config(get_asgi_application(), lifespan="off", log_level="warning", access_log=False)
    uvicorn.Server(config).run(sockets=[listener])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2])))

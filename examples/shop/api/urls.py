"""Both builds of the snippets and blog APIs, each in its own namespace:
``/api/tutorial/drf/`` and ``/api/tutorial/zembra/``, ``/api/blog/drf/``
and ``/api/blog/zembra/`` (``reverse("tutorial-zembra:snippet-list")``)."""

from types import SimpleNamespace

from django.contrib.auth import get_user_model
from django.urls import include, path

from . import models
from .definitions import DRF, ZEMBRA, build

MODELS = SimpleNamespace(User=get_user_model(), Snippet=models.Snippet, Author=models.Author, Tag=models.Tag,
                         Post=models.Post)
BUILDS = {"drf": build(DRF, MODELS), "zembra": build(ZEMBRA, MODELS)}

urlpatterns = [
    pattern
    for side, api in BUILDS.items()
    for pattern in (path(f"tutorial/{side}/", include((api.tutorial_urls(), "tutorial"), namespace=f"tutorial-{side}")),
                    path(f"blog/{side}/", include((api.blog_urls(), "blog"), namespace=f"blog-{side}")))
]

"""Settings of the shop example: a JSON API on SQLite, no templates or sessions."""

import os
from pathlib import Path

BASE_DIR = Path(__file__).resolve().parent.parent

# An example project: the key only has to exist. Set SHOP_SECRET_KEY elsewhere.
SECRET_KEY = os.environ.get("SHOP_SECRET_KEY", "shop-example-not-secret")
DEBUG = os.environ.get("SHOP_DEBUG") == "1"
ALLOWED_HOSTS = ["127.0.0.1", "localhost", "testserver"]

INSTALLED_APPS = [
    "django.contrib.contenttypes",
    "django.contrib.auth",  # DRF's anonymous user lives here
    "rest_framework",
    "catalog",
]

# API only: no sessions or cookies, hence no CSRF middleware either.
MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.middleware.common.CommonMiddleware",
]

ROOT_URLCONF = "shopsite.urls"
WSGI_APPLICATION = "shopsite.wsgi.application"

DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        "NAME": os.environ.get("SHOP_DATABASE", BASE_DIR / "db.sqlite3"),
    }
}
DEFAULT_AUTO_FIELD = "django.db.models.BigAutoField"

USE_TZ = True
TIME_ZONE = "UTC"
LANGUAGE_CODE = "en-us"

REST_FRAMEWORK = {
    "DEFAULT_RENDERER_CLASSES": ["rest_framework.renderers.JSONRenderer"],
    "DEFAULT_PARSER_CLASSES": ["rest_framework.parsers.JSONParser"],
    "DEFAULT_AUTHENTICATION_CLASSES": [],
    "DEFAULT_PERMISSION_CLASSES": ["rest_framework.permissions.AllowAny"],
    "UNAUTHENTICATED_USER": None,
}

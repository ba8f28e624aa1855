"""Settings of the shop example: a JSON API on SQLite (or PostgreSQL), no templates or sessions."""

import os
from pathlib import Path
from urllib.parse import parse_qsl, unquote, urlsplit

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
    "api",
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
# SHOP_DATABASE_URL=postgresql://user[:password]@[host][:port]/name puts the
# shop on PostgreSQL (a Unix socket directory goes in ?host=/dir); the project's
# tests run the shop on both databases this way.
if os.environ.get("SHOP_DATABASE_URL"):
    _url = urlsplit(os.environ["SHOP_DATABASE_URL"])
    _query = dict(parse_qsl(_url.query))
    DATABASES["default"] = {
        "ENGINE": "django.db.backends.postgresql",
        "NAME": unquote(_url.path.lstrip("/")),
        "USER": unquote(_url.username or ""),
        "PASSWORD": unquote(_url.password or ""),
        "HOST": _query.get("host") or unquote(_url.hostname or ""),
        "PORT": str(_url.port or _query.get("port") or ""),
    }
# Persistent connections, as in production: a request does not pay for
# opening one (both APIs alike; the demo's timings depend on it).
DATABASES["default"]["CONN_MAX_AGE"] = 600
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

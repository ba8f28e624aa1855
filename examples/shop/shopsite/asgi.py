"""ASGI entry point of the shop example."""

import os

from django.core.asgi import get_asgi_application

os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shopsite.settings")

application = get_asgi_application()

"""WSGI entry point of the shop example."""

import os

from django.core.wsgi import get_wsgi_application

os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shopsite.settings")

application = get_wsgi_application()

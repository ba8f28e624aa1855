"""A pytest plugin for Django REST framework's own test suite (the tests/
folder of its released sdist, run by scripts/drf-suite.sh).

Loaded with ``-p drf_gate`` (this folder on PYTHONPATH), it adds:

``--zembra-swap``
    Runs DRF's suite with ``zembra.rest`` in place of DRF's classes:

    - ``rest_framework.serializers.ModelSerializer`` is ``zembra.rest.ModelSerializer``;
    - ``rest_framework.serializers.ListSerializer`` is ``zembra.rest.ListSerializer``
      (so ``many=True`` of every serializer, and ``Meta.list_serializer_class``
      left unset, gives zembra's);
    - ``rest_framework.renderers.JSONRenderer`` is ``zembra.rest.JSONRenderer``,
      hence also the first of DRF's default ``DEFAULT_RENDERER_CLASSES``
      (a dotted name DRF resolves through that module attribute) and of every
      test's ``REST_FRAMEWORK`` override that names it;
    - ``rest_framework.serializers.HyperlinkedModelSerializer`` is DRF's class
      body rebuilt on zembra's ModelSerializer (DRF's class subclasses DRF's
      ModelSerializer, fixed when its module was first imported).
    - ``rest_framework.pagination.PageNumberPagination``,
      ``LimitOffsetPagination`` and ``CursorPagination`` are zembra.rest's
      (hence also a ``DEFAULT_PAGINATION_CLASS`` naming them).

    The names are rebound inside ``django.setup()`` as DRF's conftest calls
    it, after its ``settings.configure()`` (DRF's renderers read settings
    when imported) and before the apps are loaded: no test module, and no
    DRF module other than those zembra.rest itself imports, has been
    imported yet, so what they take from ``rest_framework.serializers`` and
    ``rest_framework.renderers`` at import time (``from rest_framework
    import serializers`` and subclassing, ``APIView.renderer_classes``,
    ``JSONParser.renderer_class``) is zembra's. Anything of DRF's already
    loaded that still holds one of DRF's classes, and any subclass of DRF's
    ModelSerializer, ListSerializer, JSONRenderer or paginators not derived
    from zembra's, is reported and fails the run.

``--zembra-outcomes=PATH``
    Writes every test's outcome (``passed``, ``failed`` or ``skipped``) as
    JSON, for tests/drf_suite/compare.py.

``ZEMBRA_DRF_DATABASE_URL`` (environment)
    A postgresql:// URL (as ``ZEMBRA_TEST_DATABASE_URL``): DRF's test
    databases (``default`` and ``secondary``, as DRF's own conftest does with
    its ``DATABASE_URL``) on PostgreSQL instead of SQLite in memory.
"""

import json
import os
import sys
from urllib.parse import parse_qsl, unquote, urlsplit

import pytest

DATABASE_URL_VARIABLE = "ZEMBRA_DRF_DATABASE_URL"


def pytest_addoption(parser):
    group = parser.getgroup("zembra")
    group.addoption("--zembra-swap", action="store_true", default=False,
                    help="run with zembra.rest's ModelSerializer, ListSerializer, JSONRenderer and "
                         "paginators in DRF's place")
    group.addoption("--zembra-outcomes", metavar="PATH", default=None,
                    help="write each test's outcome to PATH as JSON")


def database_settings(url):
    parts = urlsplit(url)
    if parts.scheme not in ("postgres", "postgresql"):
        raise pytest.UsageError(f"{DATABASE_URL_VARIABLE}: only postgresql:// URLs are supported, not {url!r}")
    query = dict(parse_qsl(parts.query))
    return {
        "ENGINE": "django.db.backends.postgresql",
        "NAME": unquote(parts.path.lstrip("/")),
        "USER": unquote(parts.username or ""),
        "PASSWORD": unquote(parts.password or ""),
        "HOST": query.get("host") or unquote(parts.hostname or ""),
        "PORT": str(parts.port or query.get("port") or ""),
    }


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    """Runs before DRF's conftest configures Django and calls django.setup()."""
    from django.conf import settings
    import django

    url = os.environ.get(DATABASE_URL_VARIABLE)
    if url:
        _with_databases(settings, database_settings(url))
    if config.getoption("--zembra-swap"):
        config.pluginmanager.register(_Swap(), "zembra-swap")
        real_setup = django.setup

        def setup(*args, **kwargs):
            django.setup = real_setup
            _install_swap()
            return real_setup(*args, **kwargs)

        django.setup = setup
    if config.getoption("--zembra-outcomes"):
        config.pluginmanager.register(_Outcomes(config.getoption("--zembra-outcomes")), "zembra-outcomes")


def _with_databases(settings, database):
    """DRF's conftest passes its databases to settings.configure() and then
    adds django.contrib.postgres when 'default' is PostgreSQL: the databases
    are replaced as they are configured."""
    configure = settings.configure

    def configure_with_databases(**options):
        options["DATABASES"] = {"default": dict(database), "secondary": dict(database)}
        return configure(**options)

    # Not setattr: the lazy settings object would try to load settings for
    # it. configure() clears the instance's dict, this override with it.
    settings.__dict__["configure"] = configure_with_databases


# -- the swap ------------------------------------------------------------------

_ORIGINALS = {}


PAGINATORS = ("PageNumberPagination", "LimitOffsetPagination", "CursorPagination")


def _install_swap():
    from rest_framework import pagination, renderers, serializers
    from rest_framework.settings import api_settings

    import zembra.rest as zembra_rest

    _ORIGINALS.update(ModelSerializer=serializers.ModelSerializer, ListSerializer=serializers.ListSerializer,
                      JSONRenderer=renderers.JSONRenderer,
                      HyperlinkedModelSerializer=serializers.HyperlinkedModelSerializer)
    _ORIGINALS.update({name: getattr(pagination, name) for name in PAGINATORS})
    hyperlinked = _rebased(serializers.HyperlinkedModelSerializer, zembra_rest.ModelSerializer)
    serializers.ModelSerializer = zembra_rest.ModelSerializer
    serializers.ListSerializer = zembra_rest.ListSerializer
    serializers.HyperlinkedModelSerializer = hyperlinked
    renderers.JSONRenderer = zembra_rest.JSONRenderer
    for name in PAGINATORS:
        setattr(pagination, name, getattr(zembra_rest, name))
    # api_settings keeps the classes it has resolved: a renderer resolved
    # before the swap would stay DRF's.
    api_settings.reload()
    problems = _leftovers()
    if problems:
        raise RuntimeError("zembra swap: DRF's classes still held after the swap:\n  " + "\n  ".join(problems))


def _rebased(cls, base):
    """``cls``'s own body on ``base`` (its methods use no zero-argument
    super(), which would still name the old class)."""
    namespace = {k: v for k, v in vars(cls).items() if k not in ("__dict__", "__weakref__")}
    rebuilt = type(cls)(cls.__name__, (base,), namespace)
    rebuilt.__qualname__ = cls.__qualname__
    return rebuilt


def _swapped():
    from rest_framework import pagination, renderers, serializers

    return {"ModelSerializer": serializers.ModelSerializer, "ListSerializer": serializers.ListSerializer,
            "JSONRenderer": renderers.JSONRenderer,
            "HyperlinkedModelSerializer": serializers.HyperlinkedModelSerializer,
            **{name: getattr(pagination, name) for name in PAGINATORS}}


def _leftovers():
    """DRF's classes still held by loaded modules of DRF and of its tests
    (module globals, class attributes and the lists in them), and their
    subclasses not derived from zembra's."""
    originals = {id(cls): name for name, cls in _ORIGINALS.items()}
    problems = []

    def check(where, value):
        items = value if isinstance(value, (list, tuple)) else (value,)
        for item in items:
            if id(item) in originals and item is _ORIGINALS[originals[id(item)]]:
                problems.append(f"{where} is DRF's {originals[id(item)]}")

    for module_name, module in list(sys.modules.items()):
        package = module_name.partition(".")[0]
        if module is None or package not in ("rest_framework", "tests"):
            continue
        for attr, value in list(vars(module).items()):
            check(f"{module_name}.{attr}", value)
            if isinstance(value, type) and value.__module__ == module_name:
                for class_attr, class_value in list(vars(value).items()):
                    check(f"{module_name}.{attr}.{class_attr}", class_value)
    swapped = _swapped()
    for name in ("ModelSerializer", "ListSerializer", "JSONRenderer", *PAGINATORS):
        for sub in _all_subclasses(_ORIGINALS[name]):
            if sub is _ORIGINALS.get("HyperlinkedModelSerializer") or issubclass(sub, swapped[name]):
                continue
            problems.append(f"{sub.__module__}.{sub.__qualname__} subclasses DRF's {name}, not zembra's")
    return problems


def _all_subclasses(cls):
    found = []
    todo = list(cls.__subclasses__())
    while todo:
        sub = todo.pop()
        found.append(sub)
        todo.extend(sub.__subclasses__())
    return found


class _Swap:
    """Checks, once the test modules are imported and again at the end, that
    nothing took DRF's classes around the swap."""

    def pytest_collection_finish(self, session):
        self._check("after collection")

    def pytest_sessionfinish(self, session):
        self._check("at the end of the run")

    def pytest_terminal_summary(self, terminalreporter):
        # Shown under -q too: the log says what ran.
        def named(cls):
            text = f"{cls.__module__}.{cls.__qualname__}"
            if not cls.__module__.startswith("zembra."):
                text += " on " + ", ".join(named(base) for base in cls.__bases__)
            return text

        terminalreporter.write_line("zembra swap: " + ", ".join(
            f"{name} = {named(cls)}" for name, cls in _swapped().items()))

    @staticmethod
    def _check(when):
        if not _ORIGINALS:
            raise pytest.UsageError("zembra swap: django.setup() was never called, nothing was swapped")
        problems = _leftovers()
        if problems:
            raise pytest.UsageError(f"zembra swap: DRF's classes held {when}:\n  " + "\n  ".join(problems))


# -- outcomes ------------------------------------------------------------------

class _Outcomes:
    def __init__(self, path):
        self.path = path
        self.outcomes = {}

    def pytest_runtest_logreport(self, report):
        # A test passes when its call passed and no phase failed.
        previous = self.outcomes.get(report.nodeid)
        if report.failed or previous == "failed":
            outcome = "failed"
        elif report.when == "call":
            outcome = "skipped" if report.skipped else "passed"
        else:
            outcome = previous or ("skipped" if report.skipped else None)
        if outcome is not None:
            self.outcomes[report.nodeid] = outcome

    def pytest_sessionfinish(self, session):
        with open(self.path, "w") as out:
            json.dump(self.outcomes, out, indent=0, sort_keys=True)

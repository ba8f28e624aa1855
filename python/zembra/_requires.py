"""What the optional parts of the package need, said at import time."""

from __future__ import annotations

import importlib

_PROJECTS = {"django": "Django", "rest_framework": "Django REST framework"}


def require(module: str, feature: str, extra: str) -> None:
    """Imports ``module``, or raises ModuleNotFoundError naming the extra of
    this distribution that installs it (the error's ``name`` stays the
    missing module's, as the interpreter's own would have it)."""
    try:
        importlib.import_module(module)
    except ModuleNotFoundError as error:
        if error.name != module:
            raise
        raise ModuleNotFoundError(
            f"{feature} needs {_PROJECTS.get(module, module)}, which is not installed: "
            f"pip install 'zembra[{extra}]'", name=module) from None

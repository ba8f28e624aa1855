"""The package's build backend: scikit-build-core's, with the CMake build
folder (build/<wheel tag>) kept from one `pip install .` to the next.

pip runs every build in a new isolated environment, and scikit-build-core
clears a build folder that another environment configured, so each install
recompiled everything. What the folder's cache depends on is the source
folder, the target interpreter, scikit-build-core's version, CMake and the
build program; when all of them are still the same, the folder is marked
as this environment's and only changed files are recompiled. Anything else
(a tool that lived in a deleted environment, another generator) leaves the
folder to be cleared as before.

Make builds use every core unless CMAKE_BUILD_PARALLEL_LEVEL says otherwise.
"""

from __future__ import annotations

import importlib.util
import json
import os
import shutil
import sys
from pathlib import Path

from scikit_build_core import __version__ as _skbuild_version
from scikit_build_core import build as _backend
from scikit_build_core import cmake as _cmake

__all__ = [name for name in _backend.__all__ if not name.startswith("_")]


def _cache_entries(cache: Path) -> dict[str, str]:
    entries = {}
    for line in cache.read_text(encoding="utf-8", errors="replace").splitlines():
        name, sep, value = line.partition("=")
        if sep and not line.startswith(("#", "//")):
            entries[name.split(":", 1)[0]] = value
    return entries


def _expected_generator() -> str:
    chosen = os.environ.get("CMAKE_GENERATOR")
    if chosen:
        return chosen
    has_ninja = shutil.which("ninja") or importlib.util.find_spec("ninja") is not None
    return "Ninja" if has_ninja else "Unix Makefiles"


def _adopt_build_folders() -> None:
    for info_path in Path("build").glob("*/.skbuild-info.json"):
        try:
            info = json.loads(info_path.read_text(encoding="utf-8"))
            cache = _cache_entries(info_path.parent / "CMakeCache.txt")
        except (OSError, ValueError):
            continue
        if not isinstance(info, dict) or info.get("skbuild_path") == os.fspath(_cmake.DIR):
            continue
        tools = [info.get("cmake_path"), cache.get("CMAKE_MAKE_PROGRAM")]
        same = (info.get("source_dir") == os.fspath(Path.cwd().resolve())
                and info.get("python_executable") == sys.executable
                and info.get("skbuild_version") == _skbuild_version
                and cache.get("CMAKE_GENERATOR") == _expected_generator()
                and all(tool and os.path.isfile(shutil.which(tool) or tool) for tool in tools))
        if same:
            info["skbuild_path"] = os.fspath(_cmake.DIR)
            info_path.write_text(json.dumps(info, indent=2), encoding="utf-8")


def _prepared(hook):
    def run(*args, **kwargs):
        os.environ.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        _adopt_build_folders()
        return hook(*args, **kwargs)

    run.__name__ = hook.__name__
    return run


for _name in __all__:
    _hook = getattr(_backend, _name)
    globals()[_name] = _prepared(_hook) if _name.startswith("build_") else _hook

"""The source tree keeps its layers: the pure library never reaches Python,
every include names one file under src/, and the Python package has no
import circle."""

import ast
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SRC = ROOT / "src"
NATIVE = sorted(p for p in SRC.rglob("*") if p.suffix in (".cc", ".h"))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def includes(path):
    return INCLUDE.findall(path.read_text())


@pytest.mark.parametrize("path", [p for p in NATIVE if "pure" in p.relative_to(SRC).parts[:1]],
                         ids=lambda p: str(p.relative_to(SRC)))
def test_pure_units_never_reach_python(path):
    for _, name in includes(path):
        assert name != "Python.h" and not name.startswith(("binding/", "modules/")), name


def test_every_include_names_one_file_under_src():
    users = list(NATIVE) + sorted((ROOT / "tests/native").glob("*.cc")) + sorted((ROOT / "fuzz").glob("*.cc"))
    for path in users:
        for quote, name in includes(path):
            if quote == "<":
                assert not (SRC / name).exists(), f"{path}: <{name}> is a project header"
            elif (path.parent / name).exists() and path.parent != SRC:
                assert path.parent.parent.name == "tests", f"{path}: {name} is written relative to its folder"
            else:
                assert (SRC / name).is_file(), f"{path}: {name} is not under src/"
    python_users = [p for p in NATIVE if any(name == "Python.h" for _, name in includes(p))]
    assert python_users and all(p.relative_to(SRC).parts[0] == "binding" for p in python_users)


def imported_modules(path, package):
    found = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            found.add(node.module)
            found.update(f"{node.module}.{alias.name}" for alias in node.names)
    return {name for name in found if name.split(".")[0] == package}


@pytest.mark.parametrize("package", ["zembra", "zembra_core", "zembra_django"])
def test_no_import_circle(package):
    folder = ROOT / "python" / package
    modules = {f"{package}.{p.stem}" if p.stem != "__init__" else package: p for p in folder.glob("*.py")}
    graph = {name: imported_modules(path, package) & modules.keys() - {name} for name, path in modules.items()}
    # A package imports its submodules' names; a submodule importing the
    # package itself only reaches __init__, which is checked like any other.
    state = {}

    def visit(name, trail):
        if state.get(name) == "done":
            return
        assert state.get(name) != "open", " -> ".join(trail + [name])
        state[name] = "open"
        for target in sorted(graph[name]):
            visit(target, trail + [name])
        state[name] = "done"

    for name in sorted(graph):
        visit(name, [])


@pytest.mark.parametrize("module, blocked, extra", [
    ("zembra.rest", "rest_framework", "rest"),
    ("zembra.rest", "django", "rest"),
    ("zembra.django", "django", "django"),
])
def test_a_missing_extra_is_named(module, blocked, extra):
    code = (f"import sys; sys.modules[{blocked!r}] = None\n"
            f"try:\n    import {module}\nexcept ModuleNotFoundError as e:\n    print(e.name, '|', e)\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    name, _, message = done.stdout.strip().partition(" | ")
    assert (name, done.returncode) == (blocked, 0), done.stderr
    assert message.endswith(f"pip install 'zembra[{extra}]'"), message

"""The stub files match the runtime modules, and typed code checks strictly."""

import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(bool(os.environ.get("ZEMBRA_SANITIZED")),
                                reason="type checks do not exercise native code")


def run(*args):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=ROOT)


@pytest.mark.parametrize("module", ["zembra_core._native", "zembra_django", "zembra._speedups"])
def test_stubs_match_the_runtime(module):
    pytest.importorskip("mypy")
    out = run("mypy.stubtest", module)
    assert out.returncode == 0, out.stdout + out.stderr


def test_example_passes_strict_type_checking():
    pytest.importorskip("mypy")
    out = run("mypy", "--strict", "--no-incremental", str(ROOT / "examples" / "typed_usage.py"))
    assert out.returncode == 0, out.stdout + out.stderr

"""Legacy (shared-lock) sub-interpreters, as an embedding server makes them:
zembra._speedups keeps Python objects in per-process caches, so it refuses
every interpreter but the main one, and the main interpreter keeps working
after the sub-interpreter is gone. The specified modules work inside one.
Each case runs in a subprocess, so a crash is a failed test."""

import datetime as dt
import os
import subprocess
import sys
import textwrap
import uuid
from decimal import Decimal

import pytest

pytest.importorskip("_testcapi")

KEY = uuid.UUID("12345678-1234-5678-1234-567812345678")

# Runs inside the sub-interpreter; what it found goes to a file, as the
# sub-interpreter has its own sys.stdout.
INSIDE = """
from decimal import Decimal
import zembra_core as z
import zembra_django
found = {"core": z.serialize({"price": Decimal("1.50")}, z.Schema({"price": z.Field(Decimal)}))}
for name in ("zembra", "zembra._speedups"):
    try:
        __import__(name)
    except ImportError as e:
        found[name] = str(e)
with open(OUT, "w") as f:
    f.write(repr(found))
"""

SCRIPT = """
import datetime as dt, sys, _testcapi
from decimal import Decimal

def use_zembra():
    import zembra
    plan = zembra.InputPlan([
        {"name": "u", "kind": "url"},
        {"name": "t", "kind": "datetime", "default_timezone": dt.timezone(dt.timedelta(hours=2))},
        {"name": "k", "kind": "uuid"},
        {"name": "n", "kind": "decimal", "max_digits": 6, "decimal_places": 2}])
    body = '{"u": "https://example.com/a", "t": "2024-05-01T10:00Z", "k": "%s", "n": "1.5"}'
    return zembra.parse_input(plan, body % KEY), zembra.encode_json([Decimal("1.50")])

if sys.argv[1] == "main-first":
    use_zembra()
assert _testcapi.run_in_subinterp("OUT = %r\\n" % sys.argv[2] + INSIDE) == 0
print(repr(use_zembra()))
"""


@pytest.mark.parametrize("order", ["main-first", "sub-first"])
def test_speedups_refuse_a_sub_interpreter_and_leave_the_main_one_working(order, tmp_path):
    out = tmp_path / "inside.txt"
    code = f"KEY = {str(KEY)!r}\nINSIDE = {INSIDE!r}\n" + textwrap.dedent(SCRIPT)
    run = subprocess.run([sys.executable, "-c", code, order, str(out)], capture_output=True, text=True,
                         env=dict(os.environ))
    assert run.returncode == 0, run.stderr

    inside = eval(out.read_text())
    assert inside.pop("core") == {"price": "1.50"}
    assert set(inside) == {"zembra", "zembra._speedups"}
    for message in inside.values():
        assert message.startswith("zembra._speedups can only be imported in the main interpreter;")

    (values, errors), encoded = eval(run.stdout, {"datetime": dt, "Decimal": Decimal, "UUID": uuid.UUID})
    assert errors is None and encoded == b'["1.50"]'
    assert values == {"u": "https://example.com/a", "k": KEY, "n": Decimal("1.50"),
                      "t": dt.datetime(2024, 5, 1, 12, tzinfo=dt.timezone(dt.timedelta(hours=2)))}
    assert str(values["n"]) == "1.50"

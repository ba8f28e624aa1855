"""The queryset route: zembra.django.serialize_queryset (rows read straight
from the cursor, converted natively) against the values_list() route it
stands for, on the example shop's Product model in SQLite and, where the
server binaries are installed, in a throwaway PostgreSQL cluster
(scripts/pg-cluster.sh, as make test-postgres runs it), at 500 and 10,000
rows.

The shop's models need Django configured with the shop's settings, which
the other Django benchmarks of a run_all process have configured otherwise,
so the timing runs in a child process of its own and sends its results back.
"""

import json
import os
import pathlib
import subprocess
import sys

from harness import Comparison, compare

SIZES = (500, 10_000)
# Calls of a few milliseconds: more samples than usual, the best of them kept,
# so that a busy machine disturbs the ratios less.
REPEAT = 15
ROOT = pathlib.Path(__file__).resolve().parent.parent
SHOP = ROOT / "examples" / "shop"


def measure(database):
    """Runs in the child: the shop on in-memory SQLite, or on the PostgreSQL
    database that scripts/pg-cluster.sh names, with each size of products."""
    sys.path.insert(0, str(SHOP))
    os.environ["DJANGO_SETTINGS_MODULE"] = "shopsite.settings"
    os.environ["SHOP_DATABASE"] = ":memory:"
    if database == "PostgreSQL":
        os.environ["SHOP_DATABASE_URL"] = os.environ["ZEMBRA_TEST_DATABASE_URL"]
    import django

    django.setup()
    from django.core.management import call_command

    call_command("migrate", verbosity=0)
    from catalog.models import Product
    from catalog.sample_data import populate
    import zembra
    import zembra_django as zd
    from zembra.django import serialize_queryset, serialize_queryset_json

    schema = zd.ModelSchema(Product)
    names = schema.field_names_list
    qs = Product.objects.all()
    results = []
    for rows in SIZES:
        populate(products=rows, applications=0)

        def check_dicts(outs, rows=rows):
            assert outs["zembra serialize_queryset"] == outs["serialize_values_list(list(values_list))"]
            assert len(outs["list(qs.values_list(*names))"]) == rows

        def check_bytes(outs):
            assert outs["zembra serialize_queryset_json"] == outs["serialize_values_list_json(list(values_list))"]

        repeat = REPEAT if rows <= 1000 else 5
        results += [
            compare(f"serialize_queryset: {rows} shop products, {database}",
                    {"zembra serialize_queryset": lambda: serialize_queryset(qs, schema),
                     "list(qs.values_list(*names))": lambda: list(qs.values_list(*names)),
                     "serialize_values_list(list(values_list))":
                         lambda: zd.serialize_values_list(list(qs.values_list(*names)), schema)},
                    ours="zembra serialize_queryset", repeat=repeat, check=check_dicts),
            compare(f"serialize_queryset_json: {rows} shop products, {database}",
                    {"zembra serialize_queryset_json": lambda: serialize_queryset_json(qs, schema),
                     "list(qs.values_list(*names))": lambda: list(qs.values_list(*names)),
                     "serialize_values_list_json(list(values_list))":
                         lambda: zembra.serialize_values_list_json(list(qs.values_list(*names)), schema)},
                    ours="zembra serialize_queryset_json", repeat=repeat, check=check_bytes),
        ]
    return [{"name": c.name, "ours": c.ours, "timings": c.timings} for c in results]


def _comparisons(output):
    return [Comparison(r["name"], r["ours"], r["timings"]) for r in json.loads(output)]


def run():
    child = [sys.executable, __file__, "--child"]
    done = subprocess.run(child + ["SQLite"], capture_output=True, text=True, check=True)
    comparisons = _comparisons(done.stdout)
    # The cluster script prints why and runs nothing where PostgreSQL is not
    # installed; the child's results are its last line of output.
    done = subprocess.run([str(ROOT / "scripts" / "pg-cluster.sh"), "run"] + child + ["PostgreSQL"],
                          capture_output=True, text=True, check=True)
    lines = done.stdout.strip().splitlines()
    if lines and lines[-1].startswith("["):
        comparisons += _comparisons(lines[-1])
    else:
        print("bench_queryset: PostgreSQL skipped:", (done.stdout + done.stderr).strip()[-300:], file=sys.stderr)
    return comparisons


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        print(json.dumps(measure(sys.argv[2])))
    else:
        for comparison in run():
            print(comparison.report())

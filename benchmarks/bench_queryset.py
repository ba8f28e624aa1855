"""The queryset route: zembra.django.serialize_queryset (rows read straight
from the cursor, converted natively) against the values_list() route it
stands for, on the example shop's Product model in SQLite.

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

ROWS = 500
# Calls of a few milliseconds: more samples than usual, the best of them kept,
# so that a busy machine disturbs the ratios less.
REPEAT = 15
SHOP = pathlib.Path(__file__).resolve().parent.parent / "examples" / "shop"


def measure():
    """Runs in the child: the shop on in-memory SQLite with ROWS products."""
    sys.path.insert(0, str(SHOP))
    os.environ["DJANGO_SETTINGS_MODULE"] = "shopsite.settings"
    os.environ["SHOP_DATABASE"] = ":memory:"
    import django

    django.setup()
    from django.core.management import call_command

    call_command("migrate", verbosity=0)
    from catalog.models import Product
    from catalog.sample_data import populate
    import zembra
    import zembra_django as zd
    from zembra.django import serialize_queryset, serialize_queryset_json

    populate(products=ROWS, applications=0)
    schema = zd.ModelSchema(Product)
    names = schema.field_names_list
    qs = Product.objects.all()

    def check_dicts(outs):
        assert outs["zembra serialize_queryset"] == outs["serialize_values_list(list(values_list))"]
        assert len(outs["list(qs.values_list(*names))"]) == ROWS

    def check_bytes(outs):
        assert len(set(outs.values())) == 1

    results = [
        compare(f"serialize_queryset: {ROWS} shop products, SQLite",
                {"zembra serialize_queryset": lambda: serialize_queryset(qs, schema),
                 "list(qs.values_list(*names))": lambda: list(qs.values_list(*names)),
                 "serialize_values_list(list(values_list))":
                     lambda: zd.serialize_values_list(list(qs.values_list(*names)), schema)},
                ours="zembra serialize_queryset", repeat=REPEAT, check=check_dicts),
        compare(f"serialize_queryset_json: {ROWS} shop products, SQLite",
                {"zembra serialize_queryset_json": lambda: serialize_queryset_json(qs, schema),
                 "serialize_values_list_json(list(values_list))":
                     lambda: zembra.serialize_values_list_json(list(qs.values_list(*names)), schema)},
                ours="zembra serialize_queryset_json", repeat=REPEAT, check=check_bytes),
    ]
    return [{"name": c.name, "ours": c.ours, "timings": c.timings} for c in results]


def run():
    done = subprocess.run([sys.executable, __file__, "--child"], capture_output=True, text=True, check=True)
    return [Comparison(r["name"], r["ours"], r["timings"]) for r in json.loads(done.stdout)]


if __name__ == "__main__":
    if sys.argv[1:] == ["--child"]:
        print(json.dumps(measure()))
    else:
        for comparison in run():
            print(comparison.report())

"""The gate on Django REST framework's own suite: every test that passes with
DRF's classes must pass with zembra.rest's, except the known differences.

    python compare.py RELEASED.json SWAPPED.json KNOWN_DIFFERENCES DATABASE

RELEASED.json and SWAPPED.json are the outcomes drf_gate.py wrote for the two
runs; DATABASE ("sqlite" or "postgresql") picks the entries of the known
differences that apply. Exits 1 when a test passes released but fails
swapped and is not listed, when a listed test passes swapped (the list only
shrinks), or when a listed test is not in the suite.

The known differences file: one test a line, ``NODE_ID | reason``, optionally
prefixed by ``[postgresql]`` or ``[sqlite]`` for a difference on one
database only; blank lines and lines starting with ``#`` are ignored.
"""

import json
import sys

DATABASES = ("sqlite", "postgresql")


def known_differences(path, database):
    listed = {}
    with open(path) as lines:
        for number, line in enumerate(lines, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            only = None
            if line.startswith("["):
                only, _, line = line[1:].partition("]")
                if only not in DATABASES:
                    sys.exit(f"{path}:{number}: unknown database [{only}]")
            node_id, separator, reason = (part.strip() for part in line.partition(" | "))
            if not separator or not reason:
                sys.exit(f"{path}:{number}: expected 'NODE_ID | reason'")
            if only in (None, database):
                listed[node_id] = reason
    return listed


def main(released_path, swapped_path, known_path, database):
    with open(released_path) as f:
        released = json.load(f)
    with open(swapped_path) as f:
        swapped = json.load(f)
    listed = known_differences(known_path, database)

    def passes(outcomes):
        return {node for node, outcome in outcomes.items() if outcome == "passed"}

    released_passing, swapped_passing = passes(released), passes(swapped)
    newly_failing = sorted(released_passing - swapped_passing - listed.keys())
    listed_passing = sorted(listed.keys() & swapped_passing)
    listed_unknown = sorted(listed.keys() - swapped.keys())
    listed_failing_released = sorted(listed.keys() - released_passing - swapped_passing - set(listed_unknown))
    # Swapped passes a test released fails: worth knowing, never a failure.
    only_swapped = sorted(swapped_passing - released_passing)

    print(f"DRF suite on {database}: released {len(released_passing)}/{len(released)} passed, "
          f"swapped {len(swapped_passing)}/{len(swapped)} passed; "
          f"known differences {len(listed)}; newly failing {len(newly_failing)}; "
          f"listed but passing {len(listed_passing)}; passing only swapped {len(only_swapped)}")
    for title, nodes in (("NEWLY FAILING (passes released, fails swapped, not listed):", newly_failing),
                         ("LISTED BUT PASSING swapped (remove from the known differences):", listed_passing),
                         ("LISTED BUT NOT IN THE SUITE:", listed_unknown),
                         ("note: listed, failing released too on this database:", listed_failing_released),
                         ("note: passing swapped only:", only_swapped)):
        if nodes:
            print(title)
            for node in nodes:
                print("  " + node)
    return 1 if newly_failing or listed_passing or listed_unknown else 0


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[4] not in DATABASES:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))

#!/usr/bin/env bash
# Django REST framework's own test suite as the gate for zembra.rest.
#
#   scripts/drf-suite.sh [--postgres]
#
# Fetches the released sdist of exactly the djangorestframework installed in
# .venv (kept in build/drf-suite/, fetched once), extracts its tests/ and its
# pytest settings (pyproject.toml), and runs that suite twice against the
# installed DRF and zembra: as released, and with zembra.rest's
# ModelSerializer, ListSerializer and JSONRenderer in DRF's place
# (tests/drf_suite/drf_gate.py says exactly what is swapped and how). Every
# test that passes released must pass swapped, unless
# tests/drf_suite/known_differences.txt lists it; a listed test that passes
# swapped fails the gate too (tests/drf_suite/compare.py).
#
# --postgres: both runs on the PostgreSQL database of ZEMBRA_TEST_DATABASE_URL
# (under scripts/pg-cluster.sh run) instead of SQLite in memory.
#
# PY (default .venv/bin/python) is the interpreter; pytest's full output of
# each run is in build/drf-suite/<version>/<database>-{released,swapped}.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
PY=${PY:-.venv/bin/python}

database=sqlite
if [[ "${1:-}" == --postgres ]]; then
  database=postgresql
  [[ -n "${ZEMBRA_TEST_DATABASE_URL:-}" ]] || { echo "drf-suite: --postgres needs ZEMBRA_TEST_DATABASE_URL" >&2; exit 2; }
  export ZEMBRA_DRF_DATABASE_URL=$ZEMBRA_TEST_DATABASE_URL
elif [[ $# -gt 0 ]]; then
  echo "usage: $0 [--postgres]" >&2; exit 2
fi

version=$("$PY" -c 'from importlib.metadata import version; print(version("djangorestframework"))')
cache=build/drf-suite
suite=$cache/$version
sdist=$cache/djangorestframework-$version.tar.gz
if [[ ! -f $sdist ]]; then
  mkdir -p "$cache/download"
  "$PY" -m pip download -q --no-binary :all: --no-deps "djangorestframework==$version" -d "$cache/download"
  mv "$cache/download/djangorestframework-$version.tar.gz" "$sdist" && rmdir "$cache/download"
fi
if [[ ! -f $suite/.extracted ]]; then
  rm -rf "$suite" && mkdir -p "$suite"
  # Not DRF's rest_framework/: the suite must test the installed one.
  tar -xzf "$sdist" -C "$suite" --strip-components=1 \
    "djangorestframework-$version/tests" "djangorestframework-$version/pyproject.toml"
  touch "$suite/.extracted"
fi

# What DRF's suite imports beyond DRF and Django: its "test" requirements,
# and what its schema tests need (skipped or failing without).
if ! "$PY" -c 'import pytest_django, dj_database_url, uritemplate, inflection, yaml' 2>/dev/null; then
  "$PY" -m pip install -q -r requirements/test.txt
fi

run() { # released|swapped [pytest options]
  local name=$1 status=0; shift
  # The suite's own folder is the root: its pyproject.toml gives pytest's
  # settings, its tests/ package is imported from there.
  (cd "$suite" && PYTHONPATH="$root/tests/drf_suite" "$root/$PY" -m pytest -p drf_gate -p no:cacheprovider \
     -q --zembra-outcomes="$database-$name.json" "$@" tests >"$database-$name.log" 2>&1) || status=$?
  grep '^zembra swap:' "$suite/$database-$name.log" || true
  tail -n 1 "$suite/$database-$name.log"
  # 1 is "some tests failed", which the comparison judges; anything else
  # (interrupted, internal or usage error, no tests) is not a usable run.
  if [[ $status -gt 1 ]]; then
    echo "drf-suite: the $name run on $database stopped (pytest exit $status):" >&2
    tail -n 30 "$suite/$database-$name.log" >&2
    exit 1
  fi
}

echo "== DRF $version suite on $database, as released"
run released
echo "== DRF $version suite on $database, zembra.rest swapped in"
run swapped --zembra-swap
"$PY" tests/drf_suite/compare.py "$suite/$database-released.json" "$suite/$database-swapped.json" \
  tests/drf_suite/known_differences.txt "$database"

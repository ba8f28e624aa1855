"""The PostgreSQL readers of the queryset route (zembra._speedups.
_queryset_pg_records/_queryset_pg_json, reading the libpq result psycopg
holds) against the values_list route, over the text forms the server writes
for each column type, and the cases that must take another route."""

import psycopg
import pytest
from django.db import connection

import zembra
import zembra.django as zdj
import zembra_django as zd
from django_tests.testapp.models import Sample
from json_strategies import outcome

pytestmark = pytest.mark.database("postgresql")
SAMPLE = zd.ModelSchema(Sample)
ROUTES = [(zdj.serialize_queryset, zd.serialize_values_list, "_queryset_pg_records"),
          (zdj.serialize_queryset_json, zembra.serialize_values_list_json, "_queryset_pg_json")]

# Stored values of each Sample column, as SQL literals; NULL throughout.
STORED = {
    "text": ["''", "'plain'", "'é日本\U0001F600'", "E'a\"b\\\\c\\n\\t\\u2028\\u0001'", "repeat('ab', 3000)"],
    "count": ["-2147483648", "2147483647", "0"],
    "big": ["-9223372036854775808", "9223372036854775807"],
    "ratio": ["0", "'-0'", "1e308", "'4.9e-324'", "0.1", "123456789012345680000", "'NaN'", "'Infinity'",
              "'-Infinity'", "'1.7976931348623157e308'", "'3.4e38'::real"],
    "money": ["0", "'-0'", "999999.99", "-999999.99", "0.01", "0.005", "'NaN'"],
    "whole": ["99999", "-99999", "0"],
    "fine": ["0", "1e-30", "0.000001", "-0.000001", "0.0000001", "0.00000012345", "1e-7",
             "9999999999.999999999999999999999999999999", "-1234567890.123456789012345678901234567890",
             "0.1234567890123456789012345678", "0.12345678901234567890123456789", "0.99999999999999999999999999995",
             "5.5", "'NaN'"],
    "flag": ["true", "false"],
    "day": ["'0001-01-01'", "'9999-12-31'", "'2024-02-29'", "'0001-01-01 BC'", "'infinity'", "'-infinity'",
            "'10000-01-01'"],
    "at": ["'00:00:00'", "'23:59:59.999999'", "'12:00:00.5'", "'24:00:00'", "'00:00:00.000001'", "'10:20:30.0100'"],
    "moment": ["'0001-01-01 00:00:00+00'", "'9999-12-31 23:59:59.999999+00'", "'2024-05-01 12:30:00.123456+02'",
               "'1970-01-01 00:00:00.000001+00'", "'2000-01-01 00:00:00.5-09:30'", "'0001-01-01 00:30:00+01'",
               "'9999-12-31 23:30:00-01'", "'infinity'", "'-infinity'", "'0044-03-15 12:00:00+00 BC'"],
    "key": ["'00000000-0000-0000-0000-000000000000'", "'FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF'",
            "'{a0eebc99-9c0b4ef8-bb6d6bb9-bd380a11}'"],
    "doc": ["'null'", "'{\"é\": \"\\\\u00e9\\\\ud83d\\\\ude00\", \"a\": [1, 2.5e10, -0, null, true]}'",
            "'\"\\\\\"\\\\\\\\\\\\/\\\\b\\\\f\\\\n\\\\r\\\\t\\\\u0001\"'", "'[[[[{}]]]]'", "'1e400'", "'-0.0'",
            "'123456789012345678901234567890.5'", "'{\"b\": 1, \"a\": 2, \"aa\": {\"\": []}}'", "'\"\\\\u2028\"'"],
    "blob": [f"'\\x{bytes(range(250, 250 - n, -1)).hex()}'::bytea" for n in range(18)],
}
CASES = [(column, literal) for column, literals in STORED.items() for literal in literals]


class Spy:
    """Stands in for zembra._speedups in zembra.django and records the
    functions called and whether each refused (returned None)."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        real = getattr(zembra._speedups, name)

        def recorded(*args, **kwargs):
            result = real(*args, **kwargs)
            self.calls.append((name, result is None))
            return result
        return recorded


@pytest.fixture
def spy(monkeypatch):
    spy = Spy()
    monkeypatch.setattr(zdj, "_speedups", spy)
    return spy


@pytest.fixture(scope="module")
def rows(db):
    """Three Sample rows: the one the test sets, one of ordinary values, one
    all NULL."""
    Sample.objects.all().delete()
    Sample.objects.bulk_create([Sample(), Sample(text="x", count=1, doc=[1], blob=b"a"), Sample()])
    yield list(Sample.objects.order_by("pk").values_list("pk", flat=True))
    Sample.objects.all().delete()


def stored(pk, column, literal):
    try:
        with connection.cursor() as cursor:
            cursor.execute(f"UPDATE testapp_sample SET {column} = {literal} WHERE id = %s", [pk])
    except Exception:  # the column's type refuses the value
        return False
    return True


def routes_agree(spy, qs=None):
    """Both routes give the values_list route's outcome; the PostgreSQL
    readers' (function, refused) pairs."""
    qs = qs if qs is not None else Sample.objects.order_by("pk")
    taken = []
    for ours, reference, native in ROUTES:
        spy.calls.clear()
        expected = outcome(lambda: reference(list(qs.values_list(*SAMPLE.field_names_list)), SAMPLE))
        assert outcome(lambda: ours(qs, SAMPLE)) == expected
        taken += [refused for name, refused in spy.calls if name == native]
    return taken


@pytest.mark.parametrize("column, literal", CASES, ids=[f"{c}={v[:40]}" for c, v in CASES])
def test_stored_values(rows, spy, column, literal):
    if not stored(rows[0], column, literal):
        pytest.skip("the column refuses it")
    try:
        taken = routes_agree(spy)
        assert len(taken) == 2 and taken[0] == taken[1]  # both entries read it, or both refuse
    finally:
        stored(rows[0], column, "NULL")


def test_ordinary_values_are_read_natively(rows, spy):
    assert routes_agree(spy) == [False, False]


PLAN = tuple(8 if name == "doc" else 0 for name in SAMPLE.field_names_list)  # doc is read as JSON text


def test_forms_of_the_json_entry(rows):
    """One call per result, as the streaming route makes per batch: 0 an
    array, 1 the records joined by ",", 2 one record a line."""
    qs = Sample.objects.order_by("pk")
    records = [zembra.serialize_values_list_json([row], SAMPLE)[1:-1]
               for row in qs.values_list(*SAMPLE.field_names_list)]
    expected = {0: b"[" + b",".join(records) + b"]", 1: b",".join(records), 2: b"".join(r + b"\n" for r in records)}
    with connection.cursor() as cursor:
        for form, text in expected.items():
            cursor.execute(*qs.values_list(*SAMPLE.field_names_list).query.sql_with_params())
            assert zembra._speedups._queryset_pg_json(cursor.cursor, SAMPLE, PLAN, form=form) == text
            assert zembra._speedups._queryset_pg_json(cursor.cursor.pgresult, SAMPLE, PLAN, form=form) == text
        cursor.execute(*qs.filter(pk=-1).values_list(*SAMPLE.field_names_list).query.sql_with_params())
        assert [zembra._speedups._queryset_pg_json(cursor.cursor, SAMPLE, PLAN, form=f) for f in range(3)] == \
            [b"[]", b"", b""]
        with pytest.raises(ValueError, match="form must be"):
            zembra._speedups._queryset_pg_json(cursor.cursor, SAMPLE, PLAN, form=3)


@pytest.mark.parametrize("case", ["session zone", "loader of its own", "type of its own", "binary result"])
def test_fallbacks(rows, spy, case):
    """Each case takes another route (or the readers refuse), with the
    values_list route's result."""
    connection.ensure_connection()
    psycopg_connection = connection.connection
    if case == "session zone":
        with connection.cursor() as cursor:
            cursor.execute("SET TIME ZONE 'Europe/Paris'")
        try:
            assert routes_agree(spy) == []
        finally:
            with connection.cursor() as cursor:
                cursor.execute("SET TIME ZONE 'UTC'")
    elif case == "loader of its own":
        from psycopg.types.numeric import NumericLoader

        class Doubled(NumericLoader):
            def load(self, data):
                return super().load(data) * 2

        psycopg_connection.adapters.register_loader("numeric", Doubled)
        try:
            stored(rows[0], "money", "1.50")
            assert routes_agree(spy) == []
        finally:
            connection.close()  # the next connection has Django's loaders
            stored(rows[0], "money", "NULL")
    elif case == "type of its own":
        with connection.cursor() as cursor:
            cursor.execute("ALTER TABLE testapp_sample ALTER COLUMN text TYPE char(40)")
        try:
            assert routes_agree(spy) == []
        finally:
            with connection.cursor() as cursor:
                cursor.execute("ALTER TABLE testapp_sample ALTER COLUMN text TYPE varchar(40)")
    else:
        sql = Sample.objects.values_list(*SAMPLE.field_names_list).query.sql_with_params()
        with psycopg.Cursor(psycopg_connection) as cursor:
            cursor.execute(*sql, binary=True)
            assert zembra._speedups._queryset_pg_json(cursor, SAMPLE, PLAN) is None
            cursor.execute(*sql)
            assert zembra._speedups._queryset_pg_json(cursor, SAMPLE, PLAN) is not None

"""validate (typed values) and validate_many (inline checks for dicts)."""

import datetime as dt
import decimal
import os
import subprocess
import sys
import threading
import uuid

import pytest

from leakcheck import assert_no_leak
from zembra_core import Field, Schema, validate, validate_many

D = decimal.Decimal


class Obj:
    def __init__(self, **kw):
        self.__dict__.update(kw)


def errors_of(report):
    return [(e["field"], e["message"], e["code"], e["params"]) for e in report["errors"]]


def typed(field, value):
    return errors_of(validate({"v": value}, Schema({"v": field})))


def inline(field, value):
    return errors_of(validate_many([{"v": value}], Schema({"v": field})))


MAX5 = ("v", "Ensure this value has at most 5 characters (it has 6).", "max_length", {"max_length": "5", "length": "6"})


@pytest.mark.parametrize("check", [typed, inline])
@pytest.mark.parametrize("field,value,expected", [
    (Field(str, max_length=5), "héllo!", [MAX5]),
    (Field(str, min_length=3), "ab", [("v", "Ensure this value has at least 3 characters (it has 2).", "min_length",
                                       {"min_length": "3", "length": "2"})]),
    (Field(float, max_value=100.0), 150.5, [("v", "Ensure this value is less than or equal to 100.", "max_value",
                                             {"max_value": "100"})]),
    (Field(float, min_value=1e-7), 0.0, [("v", "Ensure this value is greater than or equal to 0.0000001.",
                                          "min_value", {"min_value": "0.0000001"})]),
    (Field(float, max_value=1.0), float("nan"), []),
    (Field(int, min_value=-5), -6, [("v", "Ensure this value is greater than or equal to -5.", "min_value",
                                     {"min_value": "-5"})]),
    (Field(int, min_value=10, max_value=1), 5, [
        ("v", "Ensure this value is greater than or equal to 10.", "min_value", {"min_value": "10"}),
        ("v", "Ensure this value is less than or equal to 1.", "max_value", {"max_value": "1"})]),
    (Field(D, max_digits=5, decimal_places=2), D("1234.567"), [
        ("v", "Ensure that there are no more than 5 digits in total.", "max_digits", {"max_digits": "5"}),
        ("v", "Ensure that there are no more than 2 decimal places.", "max_decimal_places",
         {"decimal_places": "2"})]),
    (Field(D, max_digits=3), D("0.001"), []),
    (Field(D, max_digits=3), D("1.500"), [("v", "Ensure that there are no more than 3 digits in total.",
                                            "max_digits", {"max_digits": "3"})]),
    (Field(bytes, max_length=2), b"abc", [("v", "Ensure this value has at most 2 bytes (it has 3).", "max_length",
                                           {"max_length": "2"})]),
    (Field(dict), {"a": 1}, []),
    (Field(str, nullable=True), None, []),
    (Field(str, default=True), None, []),
    (Field(dt.date), dt.date(2024, 1, 1), []),
    (Field(uuid.UUID), uuid.uuid4(), []),
])
def test_rules_on_both_paths(check, field, value, expected):
    assert check(field, value) == expected


@pytest.mark.parametrize("field,value,typed_outcome,inline_errors", [
    (Field(str), [1, 2, 3], TypeError, []),
    (Field(str), 5, TypeError, [("v", "Invalid type: expected str.", "invalid", {})]),
    (Field(bool), 1, TypeError, [("v", "Invalid type: expected bool.", "invalid", {})]),
    (Field(int), "x", TypeError, [("v", "Invalid type: expected int.", "invalid", {})]),
    (Field(int), 2**64, OverflowError, [("v", "Invalid type: expected int.", "invalid", {})]),
    (Field(float), "1.5", TypeError, [("v", "Invalid type: expected float.", "invalid", {})]),
    (Field(D, max_digits=2), "abc", TypeError, [("v", "Ensure that there are no more than 2 digits in total.",
                                                 "max_digits", {"max_digits": "2"})]),
    (Field(D, max_digits=3), "abc", TypeError, []),
    (Field(dt.date), dt.datetime(2024, 1, 1), TypeError, []),
    (Field(dt.time), "10:00", AttributeError, [("v", "Invalid type: expected time.", "invalid", {})]),
    (Field(uuid.UUID), 42, TypeError, [("v", "Invalid type: expected UUID.", "invalid", {})]),
    (Field(uuid.UUID), "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11", None, []),
    (Field(list), (1, 2), None, [("v", "Expected a list.", "invalid", {})]),
    (Field(list), {"a": 1}, [("v", "Expected a list.", "invalid", {})], [("v", "Expected a list.", "invalid", {})]),
    (Field(dict), [1], [("v", "Expected a dict.", "invalid", {})], [("v", "Expected a dict.", "invalid", {})]),
    (Field(bytes, max_length=1), "ab", TypeError, [("v", "Ensure this value has at most 1 bytes (it has 2).",
                                                     "max_length", {"max_length": "1"})]),
    (Field(bytes), 5, TypeError, [("v", "Invalid type: expected bytes.", "invalid", {})]),
])
def test_paths_differ_on_wrong_types(field, value, typed_outcome, inline_errors):
    if isinstance(typed_outcome, type):
        with pytest.raises(typed_outcome):
            typed(field, value)
    else:
        assert typed(field, value) == (typed_outcome or [])
    assert inline(field, value) == inline_errors


class Raising:
    def __len__(self):
        raise RuntimeError("len")

    def __index__(self):
        raise RuntimeError("index")

    def __float__(self):
        raise RuntimeError("float")

    def __str__(self):
        raise RuntimeError("str")

    def isoformat(self):
        raise RuntimeError("isoformat")


@pytest.mark.parametrize("kind", [str, int, float, D, dt.datetime, dt.date, dt.time, uuid.UUID, bytes])
def test_inline_path_turns_exceptions_into_invalid_errors(kind):
    field = Field(kind, max_digits=1) if kind is D else Field(kind)
    [(name, message, code, params)] = inline(field, Raising())
    assert (name, code, params) == ("v", "invalid", {}) and message.startswith("Invalid type: expected ")


def test_inline_path_lets_interrupts_through():
    class Interrupting:
        def __len__(self):
            raise KeyboardInterrupt
    with pytest.raises(KeyboardInterrupt):
        inline(Field(str), Interrupting())


class TestReports:
    def test_shape_and_key_order(self):
        report = validate({"a": 200, "b": 1}, Schema({"a": Field(int, max_value=100), "b": Field(int)}))
        assert list(report) == ["valid_count", "error_count", "is_valid", "errors"]
        assert report == {"valid_count": 1, "error_count": 1, "is_valid": False, "errors": [
            {"field": "a", "message": "Ensure this value is less than or equal to 100.", "code": "max_value",
             "params": {"max_value": "100"}}]}
        assert list(report["errors"][0]) == ["field", "message", "code", "params"]

    def test_two_errors_of_one_field_count_once(self):
        report = validate({"d": D("1234.567")}, Schema({"d": Field(D, max_digits=5, decimal_places=2)}))
        assert (report["valid_count"], report["error_count"]) == (0, 2)

    def test_validate_raises_where_validate_many_reports(self):
        s = Schema({"name": Field(str), "age": Field(int)})
        with pytest.raises(ValueError, match="^field 'name' is required but was null$"):
            validate({}, s)
        with pytest.raises(TypeError):
            validate({"name": "x", "age": "x"}, s)
        report = validate_many([{}, {"name": "x", "age": "x"}], s)
        assert [e["code"] for e in report["errors"]] == ["required", "required", "invalid"]

    def test_valid_count_counts_failing_fields_per_record(self):
        s = Schema({"age": Field(int, max_value=10), "a": Field(int), "b": Field(int), "c": Field(int)})
        records = [{"age": 99, "a": 1, "b": 2, "c": 3} for _ in range(3)]
        report = validate_many(records, s)
        # 12 field values, 3 of them invalid.
        assert (report["valid_count"], report["error_count"]) == (9, 3)
        records[0]["a"] = None
        assert validate_many(records, s)["valid_count"] == 8

    def test_empty_list_and_objects(self):
        s = Schema({"a": Field(int, max_value=1)})
        assert validate_many([], s) == {"valid_count": 0, "error_count": 0, "is_valid": True, "errors": []}
        assert validate_many([Obj(a=5)], s)["error_count"] == 1

    def test_dict_subclass_hooks_are_not_used(self):
        class Defaulting(dict):
            def __missing__(self, key):
                return 1
        report = validate_many([Defaulting()], Schema({"a": Field(int)}))
        assert report["errors"][0]["code"] == "required"

    def test_list_shrinking_during_the_call(self):
        data = []

        class Shrinking:
            def __str__(self):
                data.clear()
                return "1"
        data.extend([{"d": Shrinking()}, {"d": "2"}, {"d": "3"}])
        report = validate_many(data, Schema({"d": Field(D, max_digits=5)}))
        assert report == {"valid_count": 1, "error_count": 0, "is_valid": True, "errors": []}

    @pytest.mark.parametrize("arg", [(), None, {"a": 1}])
    def test_data_list_must_be_a_list(self, arg):
        with pytest.raises(TypeError) as info:
            validate_many(arg, Schema({}))
        assert info.value.__notes__ == ["while processing 'data_list'"]


def wide_schema(n):
    kinds = [Field(int, max_value=5), Field(str, max_length=2), Field(D, max_digits=3, decimal_places=1),
             Field(float, min_value=0.5), Field(list), Field(bool)]
    return Schema({f"f{i:04d}": kinds[i % len(kinds)] for i in range(n)})


def wide_record(n):
    values = [9, "abc", D("12.34"), 0.25, {"x": 1}, True]
    return {f"f{i:04d}": values[i % len(values)] for i in range(n)}


@pytest.mark.parametrize("n", [127, 128, 300, 2000])
def test_wide_records_checked_on_the_pool_give_the_sequential_report(n):
    schema, record = wide_schema(n), wide_record(n)
    report = validate(record, schema)
    # validate_many checks a non-dict record with the same rules, one field
    # after another on the calling thread.
    sequential = validate_many([Obj(**record)], schema)
    assert report["errors"] == sequential["errors"]
    assert report["error_count"] == sequential["error_count"] > 0
    assert [e["field"] for e in report["errors"]] == sorted(e["field"] for e in report["errors"])


def test_many_threads_validate_wide_records_at_once():
    schema, record = wide_schema(300), wide_record(300)
    expected = validate(record, schema)
    results, failures = [], []

    def worker():
        try:
            for _ in range(20):
                results.append(validate(record, schema) == expected)
        except BaseException as exc:  # noqa: BLE001
            failures.append(exc)
    threads = [threading.Thread(target=worker) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures and len(results) == 160 and all(results)


ALL = Schema({"s": Field(str, max_length=1), "i": Field(int, max_value=0), "f": Field(float), "b": Field(bool),
              "d": Field(D, max_digits=1), "t": Field(dt.datetime), "dd": Field(dt.date), "tm": Field(dt.time),
              "u": Field(uuid.UUID), "l": Field(list), "m": Field(dict), "by": Field(bytes, max_length=1),
              "n": Field(str, nullable=True)})
RECORD = {"s": "xy", "i": 1, "f": 1.5, "b": True, "d": D("1.5"), "t": dt.datetime(2024, 1, 1),
          "dd": dt.date(2024, 1, 1), "tm": dt.time(1), "u": uuid.uuid4(), "l": [1, {"a": 2}], "m": {"k": [1.5]},
          "by": b"xyz"}


WIDE_SCHEMA, WIDE_RECORD = wide_schema(300), wide_record(300)


@pytest.mark.parametrize("call", [
    lambda: validate(RECORD, ALL),
    lambda: validate(Obj(**RECORD), ALL),
    lambda: validate_many([RECORD, Obj(**RECORD), {"s": Raising(), "u": Raising()}], ALL),
    lambda: validate({**RECORD, "d": "bad"}, ALL),
    lambda: validate({}, ALL),
    lambda: validate(WIDE_RECORD, WIDE_SCHEMA),
])
def test_validation_does_not_leak(call):
    assert_no_leak(call, RECORD, per_round=200)


POOL_PROBE = """
import os
from zembra_core import Field, Schema, validate
s = Schema({f"f{i}": Field(int) for i in range(200)})
validate({f"f{i}": i for i in range(200)}, s)
print(len(os.listdir("/proc/self/task")) - 1)
"""


@pytest.mark.parametrize("env,expected", [
    ({"RAYON_NUM_THREADS": "3", "RAYON_RS_NUM_CPUS": "2"}, 3),
    ({"RAYON_NUM_THREADS": "+2"}, 2),
    ({"RAYON_NUM_THREADS": "abc", "RAYON_RS_NUM_CPUS": "3"}, 3),
    ({"RAYON_NUM_THREADS": " 4", "RAYON_RS_NUM_CPUS": "1"}, 1),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, None),
])
def test_pool_size_follows_the_environment(env, expected):
    clean = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    out = subprocess.run([sys.executable, "-c", POOL_PROBE], env={**clean, **env}, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    default = subprocess.run([sys.executable, "-c", POOL_PROBE], env=clean, capture_output=True, text=True)
    assert int(out.stdout) == (expected if expected is not None else int(default.stdout))


class TestPool:
    @pytest.mark.parametrize("n", [0, 1, 2, 1000, 100_003])
    def test_map_keeps_input_order(self, testing_module, n):
        assert testing_module.pool_map(n, None) == [i * i for i in range(n)]

    def test_task_failure_is_a_panic_and_the_pool_stays_usable(self, testing_module, panic_exception):
        for fail_at in (0, 4999, 9999):
            with pytest.raises(panic_exception, match=f"^task {fail_at} failed$"):
                testing_module.pool_map(10_000, fail_at)
            assert testing_module.pool_map(10, None) == [i * i for i in range(10)]

    @pytest.mark.parametrize("threads", ["1", "2", "7"])
    def test_order_for_any_thread_count(self, threads):
        code = ("import _zembra_testing as t\n"
                "assert t.pool_map(50_000, None) == [i * i for i in range(50_000)]\n")
        env = {**os.environ, "RAYON_NUM_THREADS": threads}
        out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
        if "No module named" in out.stderr:
            pytest.skip("test-only module not built")
        assert out.returncode == 0, out.stderr

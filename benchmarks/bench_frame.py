"""Overhead of the calling frame against built-in functions of the interpreter."""

from harness import compare
from zembra_core import Field, Schema, version

SCHEMA = Schema({"a": Field(str), "b": Field(int)})
LIST = [1, 2]


def run():
    results = []
    results.append(compare(
        "version() vs a no-argument built-in",
        {"zembra version()": version, "builtins: globals()": globals, "builtins: int()": int},
        ours="zembra version()"))
    results.append(compare(
        "len(Schema) vs len(list)",
        {"zembra len(schema)": lambda: len(SCHEMA), "builtins len(list)": lambda: len(LIST)},
        ours="zembra len(schema)"))
    results.append(compare(
        "Field(int, min_value=0) construction vs slice(0, 1, 2)",
        {"zembra Field(...)": lambda: Field(int, min_value=0), "builtins slice(0, 1, 2)": lambda: slice(0, 1, 2)},
        ours="zembra Field(...)"))
    return results


if __name__ == "__main__":
    for r in run():
        print(r.report())

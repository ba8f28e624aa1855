from typing import Any

from zembra_core._native import Schema
from zembra_django import ModelSchema

__all__ = [
    "PanicException",
    "encode_json",
    "serialize_json",
    "serialize_many_json",
    "serialize_instance_json",
    "serialize_batch_json",
    "serialize_values_list_json",
    "_queryset_records",
    "_queryset_json",
]

class PanicException(BaseException): ...

def encode_json(value: object) -> bytes: ...
def serialize_json(data: object, schema: Schema) -> bytes: ...
def serialize_many_json(data_list: list[Any], schema: Schema) -> bytes: ...
def serialize_instance_json(instance: object, schema: ModelSchema) -> bytes: ...
def serialize_batch_json(instances: list[Any], schema: ModelSchema) -> bytes: ...
def serialize_values_list_json(rows: list[Any], schema: ModelSchema) -> bytes: ...

# The native steps of zembra.django.serialize_queryset and
# serialize_queryset_json; None means the values_list route must run.
def _queryset_records(rows: list[Any], schema: ModelSchema, plan: tuple[Any, ...]) -> list[dict[str, Any]] | None: ...
def _queryset_json(rows: list[Any], schema: ModelSchema, plan: tuple[Any, ...]) -> bytes | None: ...

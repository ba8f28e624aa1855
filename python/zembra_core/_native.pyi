"""The native extension module."""

import datetime
import decimal
import uuid
from typing import Any, TypedDict, final

__all__ = [
    "Schema",
    "Field",
    "serialize",
    "serialize_many",
    "validate",
    "validate_many",
    "validate_names_batch",
    "validate_ids_batch",
    "compute_risk_batch",
    "batch_stats",
    "version",
]

_PythonType = type[str] | type[int] | type[float] | type[bool] | type[decimal.Decimal] | type[datetime.datetime] \
    | type[datetime.date] | type[datetime.time] | type[uuid.UUID] | type[list[Any]] | type[dict[Any, Any]] \
    | type[bytes]

class _FieldErrorDict(TypedDict):
    field: str
    message: str
    code: str
    params: dict[str, str]

class _ReportDict(TypedDict):
    valid_count: int
    error_count: int
    is_valid: bool
    errors: list[_FieldErrorDict]

class _StatsDict(TypedDict, total=False):
    mean: float
    median: float
    stdev: float
    min: float
    max: float
    count: int

class _NameResultDict(TypedDict):
    valid: bool
    errors: list[str]

@final
class Field:
    """Defines a single field's type and constraints."""

    def __new__(
        cls,
        python_type: _PythonType | Any,
        *,
        max_length: int | None = None,
        min_length: int | None = None,
        min_value: Any = None,
        max_value: Any = None,
        max_digits: int | None = None,
        decimal_places: int | None = None,
        nullable: bool = False,
        default: bool = False,
    ) -> Field: ...

@final
class Schema:
    """A compiled schema that caches field descriptors for repeated use."""

    def __new__(cls, fields: dict[str, Field]) -> Schema: ...
    def __len__(self) -> int: ...
    @property
    def field_names_list(self) -> list[str]: ...

def serialize(data: Any, schema: Schema) -> dict[str, Any]: ...
def serialize_many(data_list: list[Any], schema: Schema) -> list[dict[str, Any]]: ...
def validate(data: Any, schema: Schema) -> _ReportDict: ...
def validate_many(data_list: list[Any], schema: Schema) -> _ReportDict: ...
def validate_names_batch(names: list[str]) -> list[_NameResultDict]: ...
def validate_ids_batch(ids: list[str]) -> list[bool]: ...
def compute_risk_batch(records: list[dict[str, Any]]) -> list[float]: ...
def batch_stats(values: list[float] | list[int] | list[Any]) -> _StatsDict: ...
def version() -> str: ...

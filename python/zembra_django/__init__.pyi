"""The native extension module."""

from typing import Any, Literal, NotRequired, TypedDict, final

from zembra_core._native import _ReportDict

__all__ = [
    "ModelSchema",
    "serialize_instance",
    "serialize_batch",
    "serialize_values_list",
    "validate_instance",
    "extract_model_fields",
    "serialize_fields",
    "validate_fields",
    "version",
]

_FieldTypeName = Literal[
    "CharField", "TextField", "IntegerField", "BigIntegerField", "FloatField", "DecimalField", "BooleanField",
    "DateField", "TimeField", "DateTimeField", "UUIDField", "JSONField", "BinaryField", "EmailField", "URLField",
    "SlugField",
]

class _DescriptorDict(TypedDict):
    name: str
    type: _FieldTypeName
    nullable: bool
    has_default: bool
    max_length: NotRequired[int]
    max_digits: NotRequired[int]
    decimal_places: NotRequired[int]


@final
class ModelSchema:
    """A compiled model schema that caches field descriptors for repeated use."""

    def __new__(cls, model_class: Any) -> ModelSchema: ...
    @property
    def field_names_list(self) -> list[str]: ...
    @property
    def model_name_str(self) -> str: ...
    def to_descriptor_list(self) -> list[_DescriptorDict]: ...

def serialize_instance(instance: Any, schema: ModelSchema) -> dict[str, Any]: ...
def serialize_batch(instances: list[Any], schema: ModelSchema) -> list[dict[str, Any]]: ...
def serialize_values_list(rows: list[Any], schema: ModelSchema) -> list[dict[str, Any]]: ...
def validate_instance(instance: Any, schema: ModelSchema) -> _ReportDict: ...
def extract_model_fields(model_class: Any) -> list[_DescriptorDict]: ...
def serialize_fields(field_descriptors: list[Any], values: dict[str, Any]) -> dict[str, Any]: ...
def validate_fields(descriptors: list[Any], values: list[Any]) -> _ReportDict: ...
def version() -> str: ...

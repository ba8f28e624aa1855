"""Everything beyond the core and Django modules: JSON bytes straight from
the compiled schemas, and request input read with Django REST framework's
rules (:class:`InputPlan`, :func:`parse_input`).

The encoders return the UTF-8 bytes that ``json.dumps`` of the matching dict
route's result would give (``ensure_ascii=False``, compact separators,
``allow_nan=False``), written natively without building the dicts.
``import zembra`` never imports Django; :mod:`zembra.django` does.
"""

from zembra._speedups import (
    InputPlan,
    PanicException,
    encode_json,
    parse_input,
    serialize_batch_json,
    serialize_instance_json,
    serialize_json,
    serialize_many_json,
    serialize_values_list_json,
)

__all__ = [
    "PanicException",
    "encode_json",
    "serialize_json",
    "serialize_many_json",
    "serialize_instance_json",
    "serialize_batch_json",
    "serialize_values_list_json",
    "InputPlan",
    "parse_input",
]

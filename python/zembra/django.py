"""The Django side of the zembra package (imports Django)."""

from __future__ import annotations

from typing import Any

from django.http import HttpResponse

__all__ = ["JsonBytesResponse"]


class JsonBytesResponse(HttpResponse):
    """An HTTP response whose body is JSON that is already encoded.

    Takes the bytes of the zembra encoders (or any UTF-8 JSON text) as they
    are; the content type defaults to ``application/json``::

        return JsonBytesResponse(zembra.serialize_values_list_json(rows, schema))
    """

    def __init__(self, content: bytes | bytearray | memoryview, **kwargs: Any) -> None:
        if not isinstance(content, (bytes, bytearray, memoryview)):
            raise TypeError(
                f"JsonBytesResponse takes encoded JSON bytes, not {type(content).__name__!r}; "
                "encode the value with zembra.encode_json() first")
        kwargs.setdefault("content_type", "application/json")
        super().__init__(content=content, **kwargs)
from zembra._layer import ModelResource  # noqa: E402,F401  (the model layer)

"""Request input: a 12-field JSON body read and validated by
zembra.parse_input, by Django REST framework's ModelSerializer and by
pydantic's model_validate_json, side by side."""

import datetime as dt
import decimal
import json
import uuid
import zoneinfo

from harness import compare

INT32 = (-2147483648, 2147483647)
INT64 = (-9223372036854775808, 9223372036854775807)
BODY = json.dumps({
    "name": "item 42", "description": "A longer description of the item " * 2, "quantity": 42, "views": 42000126,
    "rating": 6.0, "price": "42.42", "active": True, "released": "2021-02-11", "created": "2024-01-01T00:42:00Z",
    "key": str(uuid.UUID(int=42 * 7919 + 1)), "meta": {"tags": ["a", "b"], "rank": 42}, "email": "user42@example.com",
}).encode()


def plan():
    """The plan the ModelSerializer of the benchmark model amounts to."""
    import zembra

    utc = zoneinfo.ZoneInfo("UTC")
    return zembra.InputPlan([
        {"name": "name", "kind": "string", "max_length": 100},
        {"name": "description", "kind": "string"},
        {"name": "quantity", "kind": "integer", "min_value": INT32[0], "max_value": INT32[1]},
        {"name": "views", "kind": "integer", "min_value": INT64[0], "max_value": INT64[1]},
        {"name": "rating", "kind": "float"},
        {"name": "price", "kind": "decimal", "max_digits": 10, "decimal_places": 2},
        {"name": "active", "kind": "boolean", "required": False},
        {"name": "released", "kind": "date"},
        {"name": "created", "kind": "datetime", "default_timezone": utc},
        {"name": "key", "kind": "uuid"},
        {"name": "meta", "kind": "json"},
        {"name": "email", "kind": "email", "max_length": 254},
    ])


def pydantic_model():
    from typing import Any, Annotated

    import pydantic

    class Item(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(str_strip_whitespace=True)  # as the serializer trims

        name: Annotated[str, pydantic.StringConstraints(max_length=100)]
        description: str
        quantity: Annotated[int, pydantic.Field(ge=INT32[0], le=INT32[1])]
        views: Annotated[int, pydantic.Field(ge=INT64[0], le=INT64[1])]
        rating: float
        price: Annotated[decimal.Decimal, pydantic.Field(max_digits=10, decimal_places=2)]
        active: bool = True
        released: dt.date
        created: dt.datetime
        key: uuid.UUID
        meta: Any
        email: Annotated[str, pydantic.StringConstraints(max_length=254, pattern=r"^[^@\s]+@[^@\s]+\.[a-zA-Z]{2,}$")]

    return Item


def run():
    import zembra
    from bench_django import setup
    from rest_framework import serializers

    Item = setup()[0]

    class ItemSerializer(serializers.ModelSerializer):
        class Meta:
            model = Item
            fields = ["name", "description", "quantity", "views", "rating", "price", "active", "released", "created",
                      "key", "meta", "email"]

    input_plan = plan()
    Model = pydantic_model()

    def drf():
        serializer = ItemSerializer(data=json.loads(BODY))
        assert serializer.is_valid()
        return serializer.validated_data

    def check(outs):
        ours = outs["zembra parse_input"][0]
        assert outs["zembra parse_input"][1] is None
        assert ours == dict(outs["json.loads + DRF ModelSerializer(data=...).is_valid()"])
        assert ours == outs["pydantic model_validate_json"].model_dump()

    return [compare(
        "parse + validate a 12-field JSON request body",
        {"zembra parse_input": lambda: zembra.parse_input(input_plan, BODY),
         "json.loads + DRF ModelSerializer(data=...).is_valid()": drf,
         "pydantic model_validate_json": lambda: Model.model_validate_json(BODY)},
        ours="zembra parse_input", check=check)]


if __name__ == "__main__":
    for comparison in run():
        print(comparison.report())

"""A short tour of zembra_core without Django (the Django example is examples/shop)."""

from datetime import datetime, timezone
from decimal import Decimal
from uuid import UUID

from zembra_core import (Field, Schema, batch_stats, compute_risk_batch, serialize,
                         serialize_many, validate, validate_many)

schema = Schema({
    "name": Field(str, max_length=20),
    "age": Field(int, min_value=0, max_value=150),
    "price": Field(Decimal, max_digits=6, decimal_places=2),
    "key": Field(UUID),
    "created": Field(datetime),
    "note": Field(str, nullable=True),
})

record = {"name": "Ada", "age": 36, "price": Decimal("9.90"),
          "key": UUID("{12345678-1234-5678-1234-567812345678}"),
          "created": datetime(2024, 5, 1, 10, 30, 0, 500_000, tzinfo=timezone.utc)}

print(schema, schema.field_names_list)
print("serialize:     ", serialize(record, schema))
print("serialize_many:", serialize_many([record], schema))  # dict fast path: str()/isoformat()
print("validate:      ", validate({**record, "age": 200}, schema))
print("validate_many: ", validate_many([record, {"name": "x" * 25, "price": Decimal("1234.567")}], schema))
print("batch_stats:   ", batch_stats([Decimal("9.90"), 12.5, 3, 40]))
print("risk scores:   ", compute_risk_batch([{}, {"credit_score": 820, "loan_amount": "1500.00"}]))

for bad in (lambda: Field(str, max_digits=2), lambda: serialize({"name": "Ada"}, schema)):
    try:
        bad()
    except (TypeError, ValueError) as exc:
        print(f"{type(exc).__name__}: {exc}")

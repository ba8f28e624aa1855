"""Type-checked usage of the core API (checked with mypy --strict in the test suite)."""

from datetime import datetime, timezone
from decimal import Decimal

from zembra_core import Field, Schema, batch_stats, serialize, validate_many


def price_report(prices: list[Decimal]) -> tuple[int, float]:
    schema = Schema({"price": Field(Decimal, max_digits=8, decimal_places=2), "at": Field(datetime)})
    now = datetime.now(timezone.utc)
    records = [{"price": p, "at": now} for p in prices]
    report = validate_many(records, schema)
    stats = batch_stats([float(p) for p in prices])
    first = serialize(records[0], schema) if records else {}
    assert isinstance(first, dict)
    return report["error_count"], stats.get("mean", 0.0)


if __name__ == "__main__":
    print(price_report([Decimal("1.50"), Decimal("123.456")]))

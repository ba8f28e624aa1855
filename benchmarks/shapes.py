"""Data shaped like real traffic, shared by the benchmarks: aware datetimes in
fixed offsets and in zoneinfo zones, and the realistic 10-field record."""

import datetime as dt
import decimal
import uuid
from zoneinfo import ZoneInfo

UTC = dt.timezone.utc
OFFSETS = [dt.timezone(dt.timedelta(hours=h, minutes=m)) for h, m in ((2, 0), (-5, 0), (5, 30), (-3, -30))]
ZONES = [ZoneInfo(name) for name in ("Europe/Amsterdam", "America/New_York", "Asia/Kolkata", "Australia/Sydney")]


def datetimes(n, zones):
    """n aware datetimes a few minutes apart over a year (so zoneinfo values
    fall on both sides of the DST changes), cycling through zones."""
    base = dt.datetime(2024, 1, 1, 8, 30)
    return [(base + dt.timedelta(minutes=53 * i)).replace(tzinfo=zones[i % len(zones)]) for i in range(n)]


def zone_calls(zones, stamps):
    """For zones that are not fixed offsets, the one utcoffset() call each
    value needs (a native map over the zone's own method): with the UTC time,
    the floor of these records."""
    if all(isinstance(z, dt.timezone) for z in zones):
        return {}
    tzs = [t.tzinfo for t in stamps]
    method = type(zones[0]).utcoffset
    return {"floor part: one utcoffset() call per value": lambda: list(map(method, tzs, stamps))}


def realistic_records(n):
    """name, int, float, bool, Decimal, UUID, datetime in one of four offsets,
    date, list, bytes."""
    stamps = datetimes(n, OFFSETS)
    return [{
        "name": f"customer {i}", "count": i % 1000, "ratio": (i % 100) / 100, "active": i % 3 != 0,
        "price": decimal.Decimal(f"{i % 10000}.{i % 100:02d}"), "key": uuid.UUID(int=i * 7919 + 1),
        "created": stamps[i], "day": dt.date(2020, 1, 1) + dt.timedelta(days=i % 1500),
        "tags": ["a", "b", str(i % 7)], "blob": bytes([i % 256, 1, 2, 3, 4, 5]),
    } for i in range(n)]

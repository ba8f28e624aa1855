"""A reusable check that a callable does not leak.

The callable runs in rounds; after a warm-up, the memory traced by
tracemalloc, the process's resident size and the reference counts of the
objects handed to the callable must stop growing. Calls that raise are fine
(failure paths leak too), as long as they raise every time the same way.
"""

import gc
import os
import sys
import tracemalloc

__all__ = ["assert_no_leak"]


def _rss_bytes():
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096
    except OSError:
        return 0


def _call(fn):
    try:
        fn()
    except Exception:
        pass


def assert_no_leak(fn, *watched, rounds=6, per_round=1000, traced_tolerance=64 * 1024,
                   rss_tolerance=4 * 1024 * 1024):
    """Fail when repeated calls of ``fn`` keep growing memory or refcounts.

    ``watched`` objects (arguments of the call) must keep their reference
    counts. A leak of even one small object per call shows as at least
    ``per_round * (rounds - 1) * ~16`` bytes of traced growth.
    """
    for _ in range(per_round):
        _call(fn)
    gc.collect()
    refs_before = [sys.getrefcount(o) for o in watched]
    rss_before = _rss_bytes()
    tracemalloc.start()
    try:
        gc.collect()
        base = tracemalloc.get_traced_memory()[0]
        for _ in range(rounds):
            for _ in range(per_round):
                _call(fn)
            gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - base
    finally:
        tracemalloc.stop()
    rss_grown = _rss_bytes() - rss_before
    refs_after = [sys.getrefcount(o) for o in watched]
    assert refs_after == refs_before, f"reference counts changed: {refs_before} -> {refs_after}"
    assert grown < traced_tolerance, f"traced memory grew by {grown} bytes over {rounds * per_round} calls"
    # The address sanitizer keeps freed memory in quarantine, so the resident
    # size only means something in ordinary builds.
    if not os.environ.get("ZEMBRA_SANITIZED"):
        assert rss_grown < rss_tolerance, f"resident size grew by {rss_grown} bytes over {rounds * per_round} calls"

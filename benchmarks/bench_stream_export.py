"""A whole-table export streamed through a real server, on PostgreSQL.

The example shop runs under waitress on the PostgreSQL database of
ZEMBRA_TEST_DATABASE_URL (``scripts/pg-cluster.sh run`` sets it; without it
the benchmark prints a note and does nothing). Its products table is filled
with --rows rows (a million by default; 13 columns: uuid, text, numeric,
double, integer, boolean, jsonb, bytea, date, timestamptz, a foreign key),
then one client reads two exports of the whole table, newline-delimited
JSON, one after the other:

- zembra: ``StreamingHttpResponse(stream_queryset_json(...))``
  (examples/shop/catalog/exports.py);
- values_list: ``StreamingHttpResponse`` over
  ``values_list().iterator()`` with ``orjson.dumps`` per row.

For each: the time to the first byte of the body (the median of five
requests after a first one, each client leaving after the first bytes), the
time of the whole export, and the server process's resident memory above its
size just before the export (sampled every 10 ms from /proc). Last, a client that goes away after the
first bytes: the server must close the query's cursor (the backend's last
statement is the cursor's CLOSE) and keep serving on the same connection.
The table is written to benchmarks/RESULTS.md between its marker lines.

    scripts/pg-cluster.sh run .venv/bin/python benchmarks/bench_stream_export.py [--rows N] [--no-results]
"""

import argparse
import datetime
import os
import socket
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "examples"))
import run_demo  # noqa: E402  (the shop's server and its set-up)

BEGIN = "<!-- stream:begin (written by benchmarks/bench_stream_export.py) -->"
END = "<!-- stream:end -->"
ROUTES = {"zembra": "/api/zembra/products/export/", "values_list + orjson": "/api/values/products/export/"}
BATCH = 2000  # the default batch of both routes (stream_queryset_json, QuerySet.iterator)

FILL = """
INSERT INTO catalog_category (name, slug) SELECT 'Category ' || c, 'category-' || c FROM generate_series(1, 5) AS c;
INSERT INTO catalog_product (id, sku, name, description, price, weight_kg, stock, is_active, attributes,
                             thumbnail, released_on, created_at, category_id)
SELECT md5(i::text)::uuid, 'SKU-' || lpad(i::text, 8, '0'), 'Product ' || i || ' – ünïcode',
       CASE WHEN i % 3 = 0 THEN '' ELSE 'A sturdy "thing",' || chr(10) || 'on two lines' END,
       (i % 100000) / 100.0 + 0.99, CASE WHEN i % 7 = 0 THEN NULL ELSE (i % 5000) / 100.0 END, i % 500, i % 4 <> 0,
       jsonb_build_object('color', (ARRAY['red', 'green', 'blue'])[i % 3 + 1],
                          'sizes', jsonb_build_array(i % 10, i % 13), 'rating', (i % 50) / 10.0),
       CASE WHEN i % 10 = 0 THEN decode(md5(i::text), 'hex') END,
       DATE '2020-01-01' + i % 1500,
       TIMESTAMPTZ '2024-01-01 00:00:00+00' + i * INTERVAL '1 second' + (i % 1000) * INTERVAL '1 microsecond',
       (SELECT min(id) FROM catalog_category) + i % 5
FROM generate_series(1, %s) AS i;
ANALYZE catalog_product;
"""


def rss(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


class Peak:
    """The highest resident size of a process while the block runs."""

    def __init__(self, pid):
        self.pid, self.highest, self._done = pid, 0, threading.Event()

    def __enter__(self):
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()
        return self

    def _watch(self):
        while not self._done.is_set():
            self.highest = max(self.highest, rss(self.pid))
            time.sleep(0.01)

    def __exit__(self, *exc):
        self._done.set()
        self._thread.join()
        self.highest = max(self.highest, rss(self.pid))


def stream(port, path, stop_after=None):
    """Reads one answer to the end (HTTP/1.0: the server closes when done);
    returns (seconds to the first body byte, seconds in all, body bytes)."""
    with socket.create_connection(("127.0.0.1", port), timeout=600) as conn:
        start = time.perf_counter()
        conn.sendall(f"GET {path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode())
        head, first, size = b"", None, 0
        while True:
            data = conn.recv(1 << 20)
            if not data:
                break
            if first is None:
                head += data
                end = head.find(b"\r\n\r\n")
                if end < 0:
                    continue
                if not head.startswith(b"HTTP/1.1 200") and not head.startswith(b"HTTP/1.0 200"):
                    raise RuntimeError(f"{path}: {head[:200]!r}")
                data = head[end + 4:]
                if not data:
                    continue
                first = time.perf_counter() - start
            size += len(data)
            if stop_after is not None and size >= stop_after:
                return first, time.perf_counter() - start, size
        return first, time.perf_counter() - start, size


def first_byte(port, path, times=5):
    """The median time to the first byte of the body, once the route has
    served a first request (which compiles and caches what it reuses); each
    client leaves after the first bytes, and the server gets a moment to see
    it go before the next."""
    stream(port, path, stop_after=1)
    found = []
    for _ in range(times):
        time.sleep(0.5)
        found.append(stream(port, path, stop_after=1)[0])
    time.sleep(0.5)
    return sorted(found)[times // 2]


def backend_states(url, own_pid):
    import psycopg

    with psycopg.connect(url, autocommit=True) as conn:
        return conn.execute("SELECT state, query FROM pg_stat_activity WHERE datname = current_database() "
                            "AND pid <> %s AND backend_type = 'client backend'", [own_pid]).fetchall()


def disconnect_check(url, port):
    """A client that reads the first bytes and goes away: the server closes
    the cursor and its connection keeps serving."""
    import psycopg

    stream(port, ROUTES["zembra"], stop_after=64 * 1024)
    with psycopg.connect(url, autocommit=True) as conn:
        own = conn.info.backend_pid
    deadline = time.monotonic() + 30
    while True:
        states = backend_states(url, own)
        if any(state == "idle" and query.startswith("CLOSE") for state, query in states):
            break
        if time.monotonic() > deadline:
            raise RuntimeError(f"the cursor was not closed after the client went away: {states}")
        time.sleep(0.2)
    _, _, size = stream(port, "/api/zembra/products/?limit=5")
    return size > 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--no-results", action="store_true", help="do not write benchmarks/RESULTS.md")
    args = parser.parse_args()
    url = os.environ.get("ZEMBRA_TEST_DATABASE_URL")
    if not url:
        print("bench_stream_export: skipped, no PostgreSQL (run it under scripts/pg-cluster.sh run)")
        return
    import psycopg

    env = {**os.environ, "SHOP_DATABASE_URL": url, "PYTHONPATH": os.pathsep.join(sys.path)}
    run_demo.manage(env, "migrate", "--verbosity", "0")
    started = time.perf_counter()
    with psycopg.connect(url, autocommit=True) as conn:
        conn.execute("TRUNCATE catalog_product, catalog_category RESTART IDENTITY CASCADE")
        for statement in FILL.replace("%s", str(args.rows)).split(";\n"):
            if statement.strip():
                conn.execute(statement)
    print(f"== {args.rows:,} products written in {time.perf_counter() - started:.1f} s")
    server = run_demo.Server(env)
    try:
        stream(server.port, "/api/zembra/products/?limit=5")  # imports and connects before the idle size
        results = {}
        for name, path in ROUTES.items():
            first = first_byte(server.port, path)
            idle = rss(server.process.pid)
            with Peak(server.process.pid) as peak:
                _, total, size = stream(server.port, path)
            results[name] = (first, total, size, peak.highest - idle)
            print(f"{name}: first byte {first * 1000:.1f} ms, all {total:.2f} s, {size / 1e6:.0f} MB, "
                  f"{args.rows / total:,.0f} rows/s, peak memory {(peak.highest - idle) / 2**20:.1f} MiB over idle")
        cleanly = disconnect_check(url, server.port)
        print("disconnect: cursor closed, the connection serves the next request" if cleanly else "disconnect: FAILED")
    finally:
        server.stop()
    lines = section(args.rows, results, cleanly)
    print("\n".join(lines))
    if not args.no_results:
        write_results(lines)


def section(rows, results, cleanly):
    ours = results["zembra"]
    batch_time = ours[1] / max(1, rows / BATCH)
    lines = [BEGIN, "## A streamed export through a real server (PostgreSQL)", "",
             f"Measured {datetime.date.today()} by `scripts/pg-cluster.sh run .venv/bin/python "
             f"benchmarks/bench_stream_export.py` ({run_demo.versions()}): the shop under waitress, "
             f"{rows:,} products of 13 columns, newline-delimited JSON read whole by one client. Memory is the "
             "server process's peak resident size during the export above its size just before it.", "",
             "| Route | first byte ms | whole export s | rows/s | peak memory over idle MiB | values_list + orjson / zembra |",
             "|---|---:|---:|---:|---:|---:|"]
    for name, (first, total, size, memory) in results.items():
        ratio = results["values_list + orjson"][1] / total
        lines.append(f"| {name} | {first * 1000:.1f} | {total:.2f} | {rows / total:,.0f} | {memory / 2**20:.1f} | "
                     f"{ratio:.2f}x |")
    lines += ["", f"zembra's first byte after {ours[0] * 1000:.1f} ms, one batch of {BATCH} rows takes "
              f"{batch_time * 1000:.1f} ms on average. A client that leaves after 64 KiB: "
              + ("the cursor is closed and the connection serves the next request." if cleanly else "FAILED."),
              END]
    return lines


def write_results(lines):
    path = HERE / "RESULTS.md"
    text = path.read_text() if path.exists() else ""
    block = "\n".join(lines) + "\n"
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + block + text[text.index(END) + len(END) + 1:]
    else:
        text = text.rstrip("\n") + "\n\n" + block
    path.write_text(text)


if __name__ == "__main__":
    main()

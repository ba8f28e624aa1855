"""Runs the example shop on a real server and compares it with the DRF version.

Steps: create a fresh SQLite database in a temporary folder (``migrate``),
load a few thousand rows (``seed_shop``), start the site under waitress on a
free port of 127.0.0.1, call each endpoint and show part of its answer, then
time the zembra endpoints against the same endpoints built with DRF. The
server is stopped at the end, also when something fails.

    python examples/run_demo.py [--products 3000] [--seconds 1.5]
"""

import argparse
import http.client
import itertools
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SHOP = Path(__file__).resolve().parent / "shop"
sys.path.insert(0, str(SHOP))
from catalog.compare import comparable  # noqa: E402  (plain Python, no Django set-up)

LIST_PAGE = 500


def manage(env, *args):
    subprocess.run([sys.executable, "manage.py", *args], cwd=SHOP, env=env, check=True)


class Server:
    """The shop under waitress in its own process group."""

    def __init__(self, env):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "shopsite.serve", "--port", "0", "--parent-pid", str(os.getpid())],
            cwd=SHOP, env=env,
            stdout=subprocess.PIPE, text=True, start_new_session=True)
        try:
            self.port = self._wait_for_port(timeout=30)
        except BaseException:
            self.stop()
            raise

    def _wait_for_port(self, timeout):
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        if not line or not line[0].startswith("listening on "):
            raise RuntimeError(f"the server did not start (exit code {self.process.poll()})")
        return int(line[0].rsplit(":", 1)[1])

    def stop(self):
        if self.process.poll() is None:
            for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
                try:
                    os.killpg(self.process.pid, sig)
                    self.process.wait(wait)
                    break
                except subprocess.TimeoutExpired:
                    continue
                except ProcessLookupError:
                    break
        self.process.stdout.close()


class Client:
    """One kept-alive HTTP connection."""

    def __init__(self, port):
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)

    def call(self, method, path, body=None):
        headers = {"Content-Type": "application/json"} if body is not None else {}
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        self.connection.request(method, path, body=body, headers=headers)
        response = self.connection.getresponse()
        return response.status, json.loads(response.read())


def sample(payload, width=400):
    text = json.dumps(payload, ensure_ascii=False)
    return text if len(text) <= width else text[:width] + " ..."


def new_product(number, category):
    return {"sku": f"DEMO-{number:06d}", "name": "Demo Kettle", "category": category,
            "price": "34.90", "stock": 12, "attributes": {"colour": "sage", "litres": 1.7},
            "released_on": "2024-11-05", "created_at": "2024-11-05T09:30:00.250+01:00"}


def invalid_product(category):
    return {"sku": "DEMO-BAD", "name": "x" * 130, "category": category, "price": "123456789.999",
            "stock": 2**31, "released_on": "2024-02-30"}


def show(method, path, status, answer, note=""):
    print(f"{method} {path}{note} -> {status}")
    if isinstance(answer, dict) and "errors" in answer:
        print(f"  valid_count={answer['valid_count']} error_count={answer['error_count']}")
        for error in answer["errors"]:
            print(f"  {error['field']}: {error['message']} ({error['code']})")
    else:
        print(f"  {sample(answer)}")


def tour(client):
    print("\n== The zembra endpoints")
    path = "/api/zembra/products/?limit=2"
    status, items = client.call("GET", path)
    show("GET", path, status, items[:1], " (first item)")
    product = items[0]
    path = f"/api/zembra/products/{product['id']}/"
    show("GET", path, *client.call("GET", path))
    for label, body in (("valid", new_product(0, product["category"])),
                        ("invalid", invalid_product(product["category"])),
                        ("malformed", '{"sku": "A1",')):
        show("POST", "/api/zembra/products/", *client.call("POST", "/api/zembra/products/", body), f" ({label})")
    show("GET", "/api/zembra/stats/", *client.call("GET", "/api/zembra/stats/"))

    print("\n== Same data from both APIs? (datetimes compared as instants, see catalog/compare.py)")
    for label, path in ((f"list of {LIST_PAGE}", f"/products/?limit={LIST_PAGE}"),
                        ("detail", f"/products/{product['id']}/")):
        ours, theirs = (client.call("GET", f"/api/{api}{path}")[1] for api in ("zembra", "drf"))
        print(f"  {label:12} {'equal' if comparable(ours) == comparable(theirs) else 'DIFFERENT'}")
    return product


def time_per_request(client, method, path, body_for, seconds):
    """Mean seconds per request over at least ``seconds`` (and 5 requests)."""
    client.call(method, path, body_for())  # warm-up
    started, count = time.perf_counter(), 0
    while count < 5 or time.perf_counter() - started < seconds:
        status, _ = client.call(method, path, body_for())
        if status >= 500:
            raise RuntimeError(f"{method} {path} answered {status}")
        count += 1
    return (time.perf_counter() - started) / count


def compare(client, product, seconds):
    print(f"\n== zembra against DRF, one client, keep-alive ({seconds:g} s per cell)")
    serial = itertools.count(1)  # shared by both sides: every created sku is new
    cases = [
        (f"list ({LIST_PAGE} products)", "GET", f"/products/?limit={LIST_PAGE}", lambda: None),
        ("detail", "GET", f"/products/{product['id']}/", lambda: None),
        ("create (201)", "POST", "/products/", lambda: new_product(next(serial), product["category"])),
        ("reject invalid (400)", "POST", "/products/", lambda: invalid_product(product["category"])),
        ("stats", "GET", "/stats/", lambda: None),
    ]
    print(f"  {'endpoint':24} {'zembra ms':>10} {'req/s':>7} {'DRF ms':>10} {'req/s':>7} {'speed-up':>9}")
    for label, method, path, body_for in cases:
        ours, theirs = (time_per_request(client, method, f"/api/{api}{path}", body_for, seconds)
                        for api in ("zembra", "drf"))
        print(f"  {label:24} {ours * 1e3:10.2f} {1 / ours:7.0f} {theirs * 1e3:10.2f} {1 / theirs:7.0f}"
              f" {theirs / ours:8.1f}x")


def main():
    parser = argparse.ArgumentParser(description="Run the example shop and compare it with DRF.")
    parser.add_argument("--products", type=int, default=3000)
    parser.add_argument("--seconds", type=float, default=1.5, help="timing budget per table cell")
    args = parser.parse_args()

    # A plain `kill` must also run the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    folder = tempfile.mkdtemp(prefix="zembra-shop-")
    env = {**os.environ, "DJANGO_SETTINGS_MODULE": "shopsite.settings",
           "SHOP_DATABASE": os.path.join(folder, "shop.sqlite3")}
    server = None
    try:
        print(f"== Database in {folder}")
        manage(env, "migrate", "--noinput", "--verbosity", "0")
        manage(env, "seed_shop", "--products", str(args.products))
        server = Server(env)
        print(f"== waitress serving the shop on http://127.0.0.1:{server.port}/")
        client = Client(server.port)
        product = tour(client)
        compare(client, product, args.seconds)
    finally:
        if server is not None:
            server.stop()
            print("\n== Server stopped")
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

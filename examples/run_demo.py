"""Runs the example shop on a real server and compares it with the DRF version.

Steps: create a fresh SQLite database in a temporary folder (``migrate``),
load a few thousand rows (``seed_shop``), start the site under waitress on a
free port of 127.0.0.1, call each endpoint and show part of its answer, then
time the zembra endpoints against the same endpoints built with DRF, once
with DRF's own JSON renderer and once with the orjson-based one. Then one DRF
``ModelViewSet`` (catalog/viewsets.py) is timed with DRF's ``ModelSerializer``
against the same viewset with ``zembra.rest``'s serializer and renderer, and
against its floor (a serializer answering constants). Last, the snippets and
blog APIs (shop/api) built on DRF's classes are timed against the same APIs
built on zembra.rest's (list, page, retrieve). Last, the shop runs again
under uvicorn (one worker) and its ``async def`` list and create
(catalog/async_views.py) are timed against DRF's views and the sync zembra
views on the same server. The tables are printed and
written to benchmarks/RESULTS.md (between the demo's marker lines; the rest
of that file is left as it is). Each server is stopped at the
end, also when something fails.

The database is a file on a memory file system (/dev/shm) where there is
one: a disk's flush on every commit takes from one to twenty milliseconds on
a shared machine, which would swamp what the APIs themselves do (the same
for every API; ``--database-dir`` puts it elsewhere).

    python examples/run_demo.py [--products 3000] [--seconds 2] [--rounds 20] [--no-results]
"""

import argparse
import datetime
import importlib.metadata
import itertools
import json
import os
import platform
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SHOP = HERE / "shop"
RESULTS = HERE.parent / "benchmarks" / "RESULTS.md"
sys.path.insert(0, str(SHOP))
from catalog.compare import comparable  # noqa: E402  (plain Python, no Django set-up)

LIST_PAGE = 500
THREADS = 4
APIS = {"zembra": "/api/zembra", "DRF": "/api/drf", "DRF + orjson": "/api/drf-fast"}
GOALS = {"list": 5.0, "detail": 2.5}  # DRF's time / ours
# One ModelViewSet (catalog/viewsets.py) with three serializers.
VIEWSETS = {"DRF": "/api/viewset/drf", "zembra.rest": "/api/viewset/zembra", "floor": "/api/viewset/floor"}
VIEWSET_GOALS = {"list": 4.0, "retrieve": 2.0, "create": 2.0}
# The snippets and blog APIs (shop/api): each built on DRF's classes and on zembra.rest's.
REST_SIDES = {"DRF": "drf", "zembra.rest": "zembra"}
REST_GOALS = {"list": 5.0, "page": 5.0, "retrieve": 2.0}
# Under uvicorn: the async views (catalog/async_views.py), the sync ones and DRF's (sync) views.
ASGI_APIS = {"zembra async": "/api/zembra-async", "zembra": "/api/zembra", "DRF": "/api/drf"}
MEMORY_DIR = Path("/dev/shm")
BEGIN = "<!-- demo:begin (written by `make demo`: examples/run_demo.py) -->"
END = "<!-- demo:end -->"


def manage(env, *args):
    subprocess.run([sys.executable, "manage.py", *args], cwd=SHOP, env=env, check=True)


class Server:
    """The shop under waitress (or uvicorn) in its own process group."""

    def __init__(self, env, server="waitress"):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "shopsite.serve", "--port", "0", "--threads", str(THREADS),
             "--server", server, "--parent-pid", str(os.getpid())],
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
    """One kept-alive HTTP/1.1 connection on a plain socket.

    The client's own work is part of every timing; a plain socket keeps it to
    a few microseconds (http.client costs a few hundred per request), the
    same for every API. Answers are read whole; ``call`` also parses them.
    """

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def close(self):
        self.socket.close()

    def request(self, method, path, body=None):
        """Sends one request; returns the status and the body's bytes."""
        head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        if body is not None:
            if not isinstance(body, (bytes, str)):
                body = json.dumps(body)
            body = body.encode() if isinstance(body, str) else body
            head += f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n"
        self.socket.sendall(head.encode() + b"\r\n" + (body or b""))
        while (end := self.pending.find(b"\r\n\r\n")) < 0:
            self._receive()
        lines = self.pending[:end].decode("latin-1").split("\r\n")
        self.pending = self.pending[end + 4:]
        headers = dict(line.lower().split(":", 1) for line in lines[1:])
        if "content-length" not in headers:
            raise RuntimeError(f"{method} {path}: the answer has no Content-Length")
        size = int(headers["content-length"])
        while len(self.pending) < size:
            self._receive()
        content, self.pending = self.pending[:size], self.pending[size:]
        return int(lines[0].split()[1]), content

    def call(self, method, path, body=None):
        status, content = self.request(method, path, body)
        return status, json.loads(content)

    def _receive(self):
        data = self.socket.recv(1 << 20)
        if not data:
            raise ConnectionError("the server closed the connection")
        self.pending += data


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

    print("\n== Same data from all three APIs? (datetimes compared as instants, see catalog/compare.py)")
    for label, path in ((f"list of {LIST_PAGE}", f"/products/?limit={LIST_PAGE}"),
                        ("detail", f"/products/{product['id']}/")):
        ours, *theirs = (comparable(client.call("GET", prefix + path)[1]) for prefix in APIS.values())
        print(f"  {label:12} {'equal' if all(ours == other for other in theirs) else 'DIFFERENT'}")
    return product


def server_cpu(pid):
    """CPU seconds (user + system) the server process has used, or None without /proc."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Sampler:
    """Times requests, interleaving the APIs: per API the best sample's mean
    wall time per request, and the server's CPU time per request over all
    samples (less disturbed by other programs on the machine)."""

    def __init__(self, client, server_pid, apis=APIS):
        self.client = client
        self.server_pid = server_pid
        self.apis = apis

    def sample(self, method, path, body_for, seconds):
        """Requests for at least ``seconds`` (and 3 requests): (wall, CPU, count)."""
        cpu_before = server_cpu(self.server_pid)
        started, count = time.perf_counter(), 0
        while count < 3 or time.perf_counter() - started < seconds:
            status, _ = self.client.request(method, path, body_for())
            if status >= 500 or status == 404:
                raise RuntimeError(f"{method} {path} answered {status}")
            count += 1
        wall = time.perf_counter() - started
        cpu_after = server_cpu(self.server_pid)
        return wall, None if cpu_before is None else cpu_after - cpu_before, count

    def times(self, method, path, body_for, seconds, rounds):
        """{API: (best mean wall seconds per request, server CPU seconds per request or None)}."""
        apis = self.apis
        for prefix in apis.values():  # warm-up
            self.client.request(method, prefix + path, body_for())
        walls = {name: [] for name in apis}
        cpu = dict.fromkeys(apis, 0.0)
        counts = dict.fromkeys(apis, 0)
        names = list(apis)
        for round_number in range(rounds):
            shift = round_number % len(names)  # each API takes each place in turn
            for name in names[shift:] + names[:shift]:
                wall, used, count = self.sample(method, apis[name] + path, body_for, seconds / rounds)
                walls[name].append(wall / count)
                cpu[name] = None if used is None or cpu[name] is None else cpu[name] + used
                counts[name] += count
        return {name: (min(walls[name]), None if cpu[name] is None else cpu[name] / counts[name])
                for name in apis}


SERIAL = itertools.count(1)  # shared by every API and table: every created sku is new


def time_cases(sampler, cases, names, width, seconds, rounds):
    """Times each (key, label, method, path, body_for) case on every API in
    ``names``, printing a line per case; returns (key, label, times) rows."""
    rows = []
    for key, label, method, path, body_for in cases:
        times = sampler.times(method, path, body_for, seconds, rounds)
        rows.append((key, label, times))
        print(f"  {label:{width}} " + "  ".join(f"{name} {times[name][0] * 1e3:7.2f} ms" for name in names),
              flush=True)
    return rows


def compare(sampler, product, seconds, rounds):
    serial = SERIAL
    cases = [
        ("list", f"list ({LIST_PAGE} products)", "GET", f"/products/?limit={LIST_PAGE}", lambda: None),
        ("detail", "detail", "GET", f"/products/{product['id']}/", lambda: None),
        ("create", "create (201)", "POST", "/products/", lambda: new_product(next(serial), product["category"])),
        ("reject", "reject invalid (400)", "POST", "/products/", lambda: invalid_product(product["category"])),
        ("stats", "stats", "GET", "/stats/", lambda: None),
    ]
    print(f"\n== zembra against DRF through waitress ({seconds:g} s per endpoint and API)")
    return time_cases(sampler, cases, APIS, 22, seconds, rounds)


def viewset_tour(client, product):
    """The viewset's answers with both serializers: equal statuses and bodies?"""
    print("\n== One ModelViewSet, DRF's serializer and zembra.rest's: same answers?")
    drf, ours = VIEWSETS["DRF"], VIEWSETS["zembra.rest"]
    for label, method, path, body in viewset_requests(product, f"DEMO-TOUR-{next(SERIAL)}"):
        (status_a, a), (status_b, b) = (client.request(method, prefix + path, body(prefix) if callable(body) else body)
                                        for prefix in (drf, ours))
        same = status_a == status_b and same_answer(json.loads(a), json.loads(b), created=method == "POST")
        print(f"  {label:30} {status_a} {status_b} {'equal' if same else 'DIFFERENT'}")


def viewset_requests(product, sku):
    """(label, method, path, body) of the requests both viewsets must answer alike;
    a callable body is called with the viewset's prefix."""
    category = product["category"]
    return [
        (f"list of {LIST_PAGE}", "GET", f"/products/?limit={LIST_PAGE}", None),
        (f"list of {LIST_PAGE}, LimitOffsetPagination", "GET", f"/paged/?limit={LIST_PAGE}&offset=7", None),
        ("retrieve", "GET", f"/products/{product['id']}/", None),
        ("retrieve, no such product", "GET", "/products/00000000-0000-4000-8000-000000000000/", None),
        ("create", "POST", "/products/",
         lambda prefix: {**new_product(0, category), "sku": f"{sku}-{prefix.rsplit('/', 1)[1]}"}),
        ("create, invalid", "POST", "/products/", invalid_product(category)),
        ("create, duplicate sku", "POST", "/products/", {**new_product(0, category), "sku": product["sku"]}),
        ("create, malformed JSON", "POST", "/products/", '{"sku": "A1",'),
    ]


def same_answer(a, b, created=False):
    """Equal answers, datetimes as instants; a created product's own key and
    sku (new per request) left out, and the viewset's own prefix in page links."""
    if created and isinstance(a, dict) and isinstance(b, dict) and "id" in a:
        a, b = ({k: v for k, v in x.items() if k not in ("id", "sku")} for x in (a, b))
    if isinstance(a, dict) and isinstance(b, dict) and "results" in a:
        links = {prefix + "/": "/api/viewset/*/" for prefix in VIEWSETS.values()}
        a, b = ({k: neutral(v, links) if k in ("next", "previous") else v for k, v in x.items()} for x in (a, b))
    return comparable(a) == comparable(b)


def neutral(link, prefixes):
    for prefix, common in prefixes.items():
        link = link.replace(prefix, common) if isinstance(link, str) else link
    return link


def compare_viewsets(sampler, product, seconds, rounds):
    cases = [
        ("list", f"list ({LIST_PAGE} products)", "GET", f"/products/?limit={LIST_PAGE}", lambda: None),
        ("paged", f"list ({LIST_PAGE}), LimitOffsetPagination", "GET", f"/paged/?limit={LIST_PAGE}",
         lambda: None),
        ("retrieve", "retrieve", "GET", f"/products/{product['id']}/", lambda: None),
        ("create", "create (201)", "POST", "/products/", lambda: new_product(next(SERIAL), product["category"])),
        ("invalid", "create, invalid (400)", "POST", "/products/", lambda: invalid_product(product["category"])),
    ]
    print(f"\n== One ModelViewSet through waitress ({seconds:g} s per request kind and serializer)")
    return time_cases(sampler, cases, VIEWSETS, 40, seconds, rounds)


def asgi_tour(client, product):
    """The async views' answers against the sync views' on the same uvicorn."""
    print("\n== Under uvicorn: the async views and the sync ones, same answers?")
    category = product["category"]
    ours, sync = ASGI_APIS["zembra async"], ASGI_APIS["zembra"]
    for label, method, path, body in [
        (f"list of {LIST_PAGE}", "GET", f"/products/?limit={LIST_PAGE}", lambda prefix: None),
        ("create", "POST", "/products/", lambda prefix: new_product(next(SERIAL), category)),
        ("create, invalid", "POST", "/products/", lambda prefix: invalid_product(category)),
        ("create, duplicate sku", "POST", "/products/", lambda prefix: {**new_product(0, category),
                                                                        "sku": product["sku"]}),
        ("create, malformed JSON", "POST", "/products/", lambda prefix: '{"sku": "A1",'),
    ]:
        (status_a, a), (status_b, b) = (client.request(method, prefix + path, body(prefix)) for prefix in (ours, sync))
        same = status_a == status_b and (a == b or method == "POST" and status_a == 201
                                         and same_answer(json.loads(a), json.loads(b), created=True))
        print(f"  {label:30} {status_a} {status_b} {'equal' if same else 'DIFFERENT'}")


def compare_asgi(sampler, product, seconds, rounds):
    cases = [
        ("list", f"list ({LIST_PAGE} products)", "GET", f"/products/?limit={LIST_PAGE}", lambda: None),
        ("create", "create (201)", "POST", "/products/", lambda: new_product(next(SERIAL), product["category"])),
    ]
    print(f"\n== zembra async views against DRF through uvicorn ({seconds:g} s per endpoint and API)")
    return time_cases(sampler, cases, ASGI_APIS, 22, seconds, rounds)


def rest_prefixes(api):
    return {name: f"/api/{api}/{side}" for name, side in REST_SIDES.items()}


def rest_requests(client):
    """(key, label, API, path) of the snippets and blog requests timed; the
    keys and labels of those with a goal are the table's."""
    snippet = client.call("GET", "/api/tutorial/drf/snippets/?limit=1")[1][0]["id"]
    post = client.call("GET", "/api/blog/drf/posts/?page_size=1")[1]["results"][0]["id"]
    return [
        ("list", f"snippets: list of {LIST_PAGE} (hyperlinked)", "tutorial", f"/snippets/?limit={LIST_PAGE}"),
        ("retrieve", "snippets: retrieve", "tutorial", f"/snippets/{snippet}/"),
        ("list", f"posts: page of {LIST_PAGE} (nested, tags, method field)", "blog",
         f"/posts/?page_size={LIST_PAGE}"),
        ("page", "posts: page of 100", "blog", "/posts/?page=3"),
        ("retrieve", "posts: retrieve", "blog", f"/posts/{post}/"),
    ]


def same_rest_bytes(client, api, path):
    """Both builds' answers, equal bytes once each build's own prefix is made alike?"""
    drf, ours = (client.request("GET", prefix + path) for prefix in rest_prefixes(api).values())
    return drf[0] == ours[0] and drf[1] == ours[1].replace(f"/api/{api}/zembra/".encode(), f"/api/{api}/drf/".encode())


def rest_tour(client):
    print("\n== The snippets and blog APIs, on DRF's classes and on zembra.rest's: same bytes?")
    requests = rest_requests(client)
    snippet = requests[1][3]
    for _, label, api, path in [*requests, (None, "snippets: highlight", "tutorial", f"{snippet}highlight.html"),
                                (None, "posts: past the last page", "blog", "/posts/?page=999")]:
        print(f"  {label:50} {'equal' if same_rest_bytes(client, api, path) else 'DIFFERENT'}")
    return requests


def compare_rest(client, server_pid, requests, seconds, rounds):
    print(f"\n== The snippets and blog APIs through waitress ({seconds:g} s per request kind and build)")
    rows = []
    for key, label, api, path in requests:
        sampler = Sampler(client, server_pid, rest_prefixes(api))
        rows += time_cases(sampler, [(key, label, "GET", path, lambda: None)], REST_SIDES, 50, seconds, rounds)
    return rows


def rest_table(rows):
    """Ratios = DRF's time / zembra.rest's, wall time (the goals') and server CPU."""
    with_cpu = all(times[name][1] for _, _, times in rows for name in REST_SIDES)
    header = [f"{name} ms" for name in REST_SIDES] + ["DRF / zembra.rest"]
    if with_cpu:
        header += ["DRF / zembra.rest, server CPU"]
    lines = ["| Request | " + " | ".join(header) + " |", "|---|" + "---:|" * len(header)]
    for key, label, times in rows:
        drf, ours = (times[name] for name in REST_SIDES)
        cells = [f"{drf[0] * 1e3:.2f}", f"{ours[0] * 1e3:.2f}", ratio_cell(drf[0] / ours[0], REST_GOALS.get(key))]
        if with_cpu:
            cells += [f"{drf[1] / ours[1]:.1f}x"]
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return lines


def asgi_table(rows, waitress_rows):
    """Ratios = DRF's time / zembra's (async views, and sync views on the same
    server), next to the sync views' ratio through waitress."""
    with_cpu = all(times[name][1] for _, _, times in rows for name in ASGI_APIS)
    under_waitress = {key: times["DRF"][0] / times["zembra"][0] for key, _, times in waitress_rows}
    header = [f"{name} ms" for name in ASGI_APIS] + ["DRF / zembra async", "DRF / zembra",
                                                     "DRF / zembra through waitress"]
    if with_cpu:
        header += ["DRF / zembra async, server CPU"]
    lines = ["| Endpoint | " + " | ".join(header) + " |", "|---|" + "---:|" * len(header)]
    for key, label, times in rows:
        ours, sync, drf = (times[name] for name in ASGI_APIS)
        cells = [f"{times[name][0] * 1e3:.2f}" for name in ASGI_APIS]
        cells += [f"{drf[0] / ours[0]:.1f}x", f"{drf[0] / sync[0]:.1f}x",
                  f"{under_waitress[key]:.1f}x" if key in under_waitress else "-"]
        if with_cpu:
            cells += [f"{drf[1] / ours[1]:.1f}x"]
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return lines


def viewset_table(rows):
    """Ratios = DRF's time / the other's: zembra.rest's (the goals' measure,
    wall time) and the floor's (the most any serializer could reach)."""
    with_cpu = all(times[name][1] for _, _, times in rows for name in VIEWSETS)
    header = [f"{name} ms" for name in VIEWSETS] + ["DRF / zembra.rest", "DRF / floor"]
    if with_cpu:
        header += ["DRF / zembra.rest, server CPU"]
    lines = ["| Request | " + " | ".join(header) + " |", "|---|" + "---:|" * len(header)]
    for key, label, times in rows:
        drf, ours, floor = (times[name] for name in VIEWSETS)
        cells = [f"{times[name][0] * 1e3:.2f}" for name in VIEWSETS]
        cells += [ratio_cell(drf[0] / ours[0], VIEWSET_GOALS.get(key)), f"{drf[0] / floor[0]:.1f}x"]
        if with_cpu:
            cells += [f"{drf[1] / ours[1]:.1f}x"]
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return lines


def ratio_cell(ratio, goal):
    if goal is None:
        return f"{ratio:.1f}x"
    text = f"{ratio:.1f}"
    if ratio < goal <= float(text):
        text = f"{ratio:.2f}"  # "2.0x (not met: 2x)" would read as a contradiction
    return f"{text}x ({'met' if ratio >= goal else 'not met'}: {goal:g}x)"


def table(rows):
    """The results as Markdown, ratios = the peer's time / ours: wall time per
    request (the goals' measure), then the server's CPU time where known."""
    peers = [name for name in APIS if name != "zembra"]
    with_cpu = all(times[name][1] for _, _, times in rows for name in APIS)
    header = [f"{name} ms" for name in APIS] + [f"{name} / zembra" for name in peers]
    if with_cpu:
        header += [f"{name} / zembra, server CPU" for name in peers]
    lines = ["| Endpoint | " + " | ".join(header) + " |", "|---|" + "---:|" * len(header)]
    for key, label, times in rows:
        (ours, ours_cpu) = times["zembra"]
        cells = [f"{times[name][0] * 1e3:.2f}" for name in APIS]
        cells += [ratio_cell(times[name][0] / ours, GOALS.get(key)) for name in peers]
        if with_cpu:
            cells += [f"{times[name][1] / ours_cpu:.1f}x" for name in peers]
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return lines


def versions():
    names = ("zembra", "Django", "djangorestframework", "drf-orjson-renderer", "orjson", "waitress", "uvicorn")
    found = []
    for name in names:
        try:
            found.append(f"{name} {importlib.metadata.version(name)}")
        except importlib.metadata.PackageNotFoundError:
            found.append(f"{name} (not installed)")
    return ", ".join(found)


def section(rows, products, seconds, rounds, viewset_rows=(), rest_rows=(), asgi_rows=()):
    return [
        BEGIN,
        "## The example shop through a real server (`make demo`)",
        "",
        f"Measured {datetime.date.today().isoformat()} on {platform.machine()}, {os.cpu_count()} CPUs, "
        f"Python {platform.python_version()}; {versions()}.",
        "",
        f"One Django process serves all three APIs under waitress ({THREADS} threads) on a fresh SQLite "
        f"database of {products} products (a file in memory, /dev/shm: a disk's flush per commit would "
        "swamp the creates of every API alike): the same settings, middleware and persistent database "
        "connections for all. `zembra` is examples/shop/catalog/views.py (rows straight to JSON "
        "bytes); `DRF` is a `ModelSerializer` with DRF's JSON renderer and parser; `DRF + orjson` is the "
        "same DRF view with `ORJSONRenderer` and `ORJSONParser` of drf-orjson-renderer. One client on one "
        "kept-alive connection (a plain socket) reads each answer whole without parsing it; the APIs "
        f"take turns in {rounds} rounds of {seconds / rounds:.2g} s each and the best round's mean time "
        "per request is kept. Ratios are the peer's time divided by zembra's; the goals apply to list and "
        "detail, on wall time. The server CPU ratios divide the server process's CPU time per request "
        "over all rounds (from /proc): they vary less when other programs load the machine.",
        "",
        *table(rows),
        *viewset_section(viewset_rows, rounds, seconds),
        *rest_section(rest_rows, rounds, seconds),
        *asgi_section(asgi_rows, rows, rounds, seconds),
        END,
    ]


def viewset_section(rows, rounds, seconds):
    if not rows:
        return []
    return [
        "",
        "### One DRF `ModelViewSet`, three serializers",
        "",
        "examples/shop/catalog/viewsets.py: one `ModelViewSet` class body served with DRF's `ModelSerializer` "
        "and `JSONRenderer` (DRF's defaults), with `zembra.rest.ModelSerializer` (the same `Meta`) and "
        "`zembra.rest.JSONRenderer` (the only two settings that differ), and with a floor: a serializer "
        "answering constants (DRF's answers, computed once) and saving by one INSERT, with a renderer "
        "writing bytes encoded once. The floor keeps the view's, the router's, the query's and the server's "
        "work: DRF / floor is the most any serializer could reach. The list is a plain page "
        "(`?limit=&offset=`, a slice of the query set, as the shop's other APIs page); the paginated list "
        "runs DRF's `LimitOffsetPagination` for DRF and the floor (it reads the page into model instances "
        "and counts the table) and `zembra.rest.LimitOffsetPagination` for zembra.rest (the same count, the "
        "page handed on unevaluated). Same client and "
        f"timing as above ({rounds} interleaved rounds of {seconds / rounds:.2g} s, the best round's mean).",
        "",
        *viewset_table(rows),
    ]


def rest_section(rows, rounds, seconds):
    if not rows:
        return []
    return [
        "",
        "### The snippets and blog APIs, DRF's classes against zembra.rest's",
        "",
        "examples/shop/api/definitions.py: DRF's tutorial snippets (a `HyperlinkedModelSerializer` with a "
        "`ReadOnlyField` of the owner's name and a hyperlink to each snippet's highlighted page; a plain "
        "`?limit=` window) and a blog's posts (a `ModelSerializer` with a nested author, tag slugs, a "
        "`SerializerMethodField`, under `PageNumberPagination`), written once and built twice: on DRF's "
        "`ModelSerializer`, `HyperlinkedModelSerializer`, `JSONRenderer` and `PageNumberPagination`, and on "
        "zembra.rest's (its pagination where it has one, DRF's otherwise); nothing else differs. The "
        "database holds the demo's 3000 snippets and 3000 posts of 1 to 5 tags. Same client and timing as "
        f"above ({rounds} interleaved rounds of {seconds / rounds:.2g} s, the best round's mean).",
        "",
        *rest_table(rows),
    ]


def asgi_section(rows, waitress_rows, rounds, seconds):
    if not rows:
        return []
    return [
        "",
        "### `async def` views through uvicorn",
        "",
        "The same shop and database under uvicorn (one worker, Django's ASGI handler). `zembra async` is "
        "examples/shop/catalog/async_views.py: the list and create as `async def` views on "
        "`ModelResource.aserialize_queryset_json` and `aload_and_save` (one trip each to Django's thread "
        "for database work); `zembra` is the sync views of views.py and `DRF` DRF's (sync) views as above, "
        "both run by Django in that thread, as a Django user deploys them under ASGI. The last ratio column "
        "is the sync views' against DRF through waitress from the first table. Under ASGI every request "
        "also pays what no view can save: Django starts a thread for it, and its request signals, the "
        "response's close and each of the two middleware's hooks are one trip to that thread each (six "
        "before the view's own); the same for every API, it narrows the ratios. Same client and timing "
        f"({rounds} interleaved rounds of {seconds / rounds:.2g} s, the best round's mean).",
        "",
        *asgi_table(rows, waitress_rows),
    ]


def write_results(lines, path=RESULTS):
    """Replaces the demo's section of RESULTS.md (or appends it), keeping the rest."""
    text = path.read_text() if path.exists() else "# Benchmark results\n"
    begin, end = text.find(BEGIN.split(" (")[0]), text.find(END)
    block = "\n".join(lines) + "\n"
    if 0 <= begin < end:
        text = text[:begin] + block + text[end + len(END):].lstrip("\n")
    else:
        text = text.rstrip("\n") + "\n\n" + block
    path.write_text(text)


def main():
    parser = argparse.ArgumentParser(description="Run the example shop and compare it with DRF.")
    parser.add_argument("--products", type=int, default=3000)
    parser.add_argument("--api-rows", type=int, default=3000, help="snippets and posts of the snippets and blog APIs")
    parser.add_argument("--seconds", type=float, default=2.0, help="timing budget per endpoint and API")
    parser.add_argument("--rounds", type=int, default=20, help="interleaved samples per endpoint and API")
    parser.add_argument("--no-results", action="store_true", help="do not write benchmarks/RESULTS.md")
    parser.add_argument("--database-dir", type=Path, default=MEMORY_DIR if MEMORY_DIR.is_dir() else None,
                        help="where the temporary database folder goes (default: /dev/shm if present)")
    args = parser.parse_args()

    # A plain `kill` must also run the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    folder = tempfile.mkdtemp(prefix="zembra-shop-", dir=args.database_dir)
    env = {**os.environ, "DJANGO_SETTINGS_MODULE": "shopsite.settings",
           "SHOP_DATABASE": os.path.join(folder, "shop.sqlite3")}
    env.pop("SHOP_DATABASE_URL", None)
    server = client = None
    try:
        print(f"== Database in {folder}")
        manage(env, "migrate", "--noinput", "--verbosity", "0")
        manage(env, "seed_shop", "--products", str(args.products))
        manage(env, "seed_api", "--snippets", str(args.api_rows), "--posts", str(args.api_rows))
        server = Server(env)
        print(f"== waitress serving the shop on http://127.0.0.1:{server.port}/")
        client = Client(server.port)
        product = tour(client)
        viewset_tour(client, product)
        rows = compare(Sampler(client, server.process.pid), product, args.seconds, args.rounds)
        viewset_rows = compare_viewsets(Sampler(client, server.process.pid, VIEWSETS), product, args.seconds,
                                        args.rounds)
        rest_rows = compare_rest(client, server.process.pid, rest_tour(client), args.seconds, args.rounds)
        client.close()
        server.stop()
        client = None
        server = Server(env, "uvicorn")
        print(f"\n== uvicorn serving the shop on http://127.0.0.1:{server.port}/")
        client = Client(server.port)
        asgi_tour(client, product)
        asgi_rows = compare_asgi(Sampler(client, server.process.pid, ASGI_APIS), product, args.seconds,
                                 args.rounds)
    finally:
        if client is not None:
            client.close()
        if server is not None:
            server.stop()
            print("\n== Server stopped")
        shutil.rmtree(folder, ignore_errors=True)
    lines = section(rows, args.products, args.seconds, args.rounds, viewset_rows, rest_rows, asgi_rows)
    print("\n" + "\n".join(lines[1:-1]))
    if not args.no_results:
        write_results(lines)
        print(f"\n(written to {RESULTS})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

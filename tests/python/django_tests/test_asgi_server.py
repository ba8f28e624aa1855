"""The async routes of zembra.django under a real ASGI server: uvicorn serves
asgi_site.py in a subprocess, and each ``async def`` view must answer the
bytes and status of its sync twin on the same server and save the same rows."""

import http.client
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

pytest.importorskip("uvicorn")

TESTS = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(filter(None, [str(TESTS), os.environ.get("PYTHONPATH")]))}
    database = tmp_path_factory.mktemp("asgi") / "site.sqlite3"
    process = subprocess.Popen([sys.executable, "-m", "django_tests.asgi_site", str(database), str(os.getpid())],
                               cwd=TESTS, env=env, stdout=subprocess.PIPE, text=True, start_new_session=True)
    try:
        line = []
        reader = threading.Thread(target=lambda: line.append(process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(30)
        if not line or not line[0].startswith("listening on "):
            pytest.fail(f"the ASGI server did not start (exit code {process.poll()})")
        connection = http.client.HTTPConnection("127.0.0.1", int(line[0].split()[-1]), timeout=30)
        yield connection
        connection.close()
    finally:
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(process.pid, sig)
                process.wait(10)
                break
            except subprocess.TimeoutExpired:
                continue
            except ProcessLookupError:  # it ended by itself
                process.wait()
                break
        process.stdout.close()


def call(connection, method, url, body=None):
    if body is not None and not isinstance(body, str):
        body = json.dumps(body)
    connection.request(method, url, body=body, headers={"Content-Type": "application/json"} if body else {})
    response = connection.getresponse()
    return response.status, response.read()


@pytest.mark.parametrize("route", ["articles", "samples"])
def test_lists_are_the_sync_views_bytes(server, route):
    ours, theirs = (call(server, "GET", f"/{side}/{route}/") for side in ("async", "sync"))
    assert ours == theirs
    assert ours[0] == 200 and json.loads(ours[1])


BODY = {"title": "new", "price": "2.50", "author": 1, "labels": [2, 1]}


# "async": aload then asave; "once": aload_and_save.
@pytest.mark.parametrize("side", ["async", "once"])
def test_create_answers_and_saves_as_the_sync_view(server, side):
    answers = [call(server, "POST", f"/{name}/articles/", {**BODY, "slug": f"new-{name}-{side}"})
               for name in (side, "sync")]
    assert [status for status, _ in answers] == [201, 201]
    created = [json.loads(content) for _, content in answers]
    rows = json.loads(call(server, "GET", "/sync/articles/")[1])[-2:]
    assert rows == created
    mine, twin = ({k: v for k, v in row.items() if k not in ("id", "slug")} for row in rows)
    assert mine == twin == {"title": "new", "price": "2.50", "author": 1, "labels": [1, 2]}


@pytest.mark.parametrize("body", [
    {"title": "x" * 41, "slug": "s1", "price": "1e9", "labels": [999]},
    {"slug": "bad slug", "author": "Ada", "labels": "1"},
    '{"title": "t",',
])
def test_invalid_create_answers_as_the_sync_view_and_saves_nothing(server, body):
    before = call(server, "GET", "/sync/articles/")
    theirs = call(server, "POST", "/sync/articles/", body)
    assert theirs[0] == 400 and json.loads(theirs[1])["errors"]
    for side in ("async", "once"):
        assert call(server, "POST", f"/{side}/articles/", body) == theirs
    assert call(server, "GET", "/sync/articles/") == before


@pytest.mark.parametrize("query", ["batch=7", "lines=1"])
def test_async_stream_is_the_one_shot_list(server, query):
    status, body = call(server, "GET", f"/async/stream/?{query}")
    whole = call(server, "GET", "/sync/samples/")[1]
    if "lines" in query:
        body = b"[" + b",".join(body.splitlines()) + b"]"
    assert (status, body) == (200, whole)


def test_a_client_going_away_closes_the_streams_cursor(server):
    with socket.create_connection(("127.0.0.1", server.port), timeout=30) as client:
        client.sendall(b"GET /async/stream/?batch=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        assert client.recv(4096).startswith(b"HTTP/1.1 200")
    deadline = time.monotonic() + 20
    while (states := json.loads(call(server, "GET", "/stream/cursors/")[1]))[-1] is not True:
        assert time.monotonic() < deadline, states
        time.sleep(0.1)
    assert all(states)

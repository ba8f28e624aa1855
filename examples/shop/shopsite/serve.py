"""Serves the shop with waitress: ``python -m shopsite.serve [--port N]``,
or with uvicorn (one worker, Django's ASGI handler): ``--server uvicorn``.

Port 0 (the default) takes a free port; the line ``listening on HOST:PORT``
on standard output says which, for scripts that start the server.
"""

import argparse
import logging
import os
import socket
import sys
import threading
import time


def exit_when_orphaned(parent_pid):
    """Stops this process once ``parent_pid`` is gone, however it ended."""
    def watch():
        while os.getppid() == parent_pid:
            time.sleep(0.5)
        os._exit(0)
    threading.Thread(target=watch, daemon=True).start()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--server", choices=["waitress", "uvicorn"], default="waitress")
    parser.add_argument("--threads", type=int, default=4, help="waitress's threads")
    parser.add_argument("--parent-pid", type=int, help="exit when this parent process ends")
    args = parser.parse_args(argv)
    if args.parent_pid:
        exit_when_orphaned(args.parent_pid)
    os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shopsite.settings")
    if args.server == "uvicorn":
        return serve_asgi(args.host, args.port)
    # A request that waits a moment for a free thread is not worth a warning here.
    logging.getLogger("waitress.queue").setLevel(logging.ERROR)
    from waitress import create_server

    from shopsite.wsgi import application

    server = create_server(application, host=args.host, port=args.port, threads=args.threads)
    print(f"listening on {args.host}:{server.effective_port}", flush=True)
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    finally:
        server.close()
    return 0


def serve_asgi(host, port):
    import uvicorn

    from shopsite.asgi import application

    # Bound here, so that port 0's free port is known before uvicorn starts;
    # IPPROTO_TCP named, as asyncio turns Nagle's algorithm off only on such
    # sockets (else each answer's body waits ~40 ms for the client's ACK).
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    listener.bind((host, port))
    listener.listen()
    print(f"listening on {host}:{listener.getsockname()[1]}", flush=True)
    config = uvicorn.Config(application, lifespan="off", log_level="warning", access_log=False)
    uvicorn.Server(config).run(sockets=[listener])
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Serves the shop with waitress: ``python -m shopsite.serve [--port N]``.

Port 0 (the default) takes a free port; the line ``listening on HOST:PORT``
on standard output says which, for scripts that start the server.
"""

import argparse
import logging
import os
import sys
import threading
import time

from waitress import create_server


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
    parser.add_argument("--threads", type=int, default=4)
    parser.add_argument("--parent-pid", type=int, help="exit when this parent process ends")
    args = parser.parse_args(argv)
    if args.parent_pid:
        exit_when_orphaned(args.parent_pid)
    # A request that waits a moment for a free thread is not worth a warning here.
    logging.getLogger("waitress.queue").setLevel(logging.ERROR)

    os.environ.setdefault("DJANGO_SETTINGS_MODULE", "shopsite.settings")
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


if __name__ == "__main__":
    sys.exit(main())

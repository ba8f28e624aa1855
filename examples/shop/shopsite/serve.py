"""Serves the shop with waitress: ``python -m shopsite.serve [--port N]``.

Port 0 (the default) takes a free port; the line ``listening on HOST:PORT``
on standard output says which, for scripts that start the server.
"""

import argparse
import os
import sys

from waitress import create_server


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--threads", type=int, default=4)
    args = parser.parse_args(argv)

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

#!/usr/bin/python3
"""Plain HTTP file server for the demo download mirror, on 127.0.0.1 only.

Serves FOLDER read-only: 200 with Content-Length for a file, 404 for anything
missing (which the tool reads as "no newer identities"). One request line per
request goes to standard error, for the log that demo/mirror-server keeps.
"""
import argparse
import functools
import http.server
import sys


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", help="folder whose files are served at /")
    parser.add_argument("port", type=int, help="TCP port on 127.0.0.1")
    args = parser.parse_args()

    handler = functools.partial(http.server.SimpleHTTPRequestHandler,
                                directory=args.folder)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    except OSError as e:
        print(f"serve.py: cannot listen on 127.0.0.1:{args.port}: {e.strerror}",
              file=sys.stderr)
        return 1
    print(f"serve.py: serving {args.folder} at http://127.0.0.1:{args.port}/",
          file=sys.stderr, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

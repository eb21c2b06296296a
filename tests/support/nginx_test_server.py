"""Debian's nginx serving a folder on 127.0.0.1, for tests.

Writes a configuration into --state (which also takes nginx's pid file, logs
and temporary folders), runs nginx in the foreground as our child, and reports
as test_server_control.py describes; nginx ends with us. Each request is
logged to access.log as "<connection number> <request line> <status>". Plain http, or https
with --tls-cert and --tls-key. nginx answers range requests of static files by
itself. Each --redirect PATH=URL answers PATH with a 302 to URL. With
--time-out-kept every request after the first on a connection is answered with
a 408, which ends the connection, as by a server whose idle time-out passed.
"""

import argparse
import ctypes
import os
import signal
import socket
import subprocess
import sys
import time

import test_server_control

NGINX = "/usr/sbin/nginx"
START_SECONDS = 30
# A port found free can be taken by someone else before nginx binds it.
PORT_TRIES = 5
PR_SET_PDEATHSIG = 1


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def configuration(args, port):
    state = args.state
    listen = f"127.0.0.1:{port}" + (" ssl" if args.tls_cert else "")
    tls = ""
    if args.tls_cert:
        tls = f"    ssl_certificate {args.tls_cert};\n    ssl_certificate_key {args.tls_key};\n"
    redirects = ""
    for entry in args.redirect:
        path, url = entry.split("=", 1)
        redirects += f"    location = {path} {{ return 302 {url}; }}\n"
    if args.time_out_kept:
        # A bare 408 is nginx's own time-out, which closes without a byte; with
        # a text it is an answer, and the connection ends after it. Inside a
        # location, as the limit of requests is not yet known at server level.
        redirects += (
            "    location / {\n"
            "      keepalive_requests 2;\n"
            '      if ($connection_requests != 1) { return 408 "idle too long\\n"; }\n'
            "    }\n"
        )
    temp = "".join(
        f"  {kind}_temp_path {state}/{kind};\n" for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")
    )
    return (
        "daemon off;\n"
        "user root;\n"
        "worker_processes 1;\n"
        f"pid {state}/nginx.pid;\n"
        f"error_log {state}/error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  log_format tests '$connection $request $status';\n"
        f"  access_log {state}/access.log tests;\n"
        f"{temp}"
        "  default_type application/octet-stream;\n"
        "  server {\n"
        f"    listen {listen};\n"
        f"{tls}"
        f"    root {args.root};\n"
        f"{redirects}"
        "  }\n"
        "}\n"
    )


def end_with_parent():
    """In nginx before it runs: it gets SIGTERM when we end in any way."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def start(args, port):
    """nginx listening on `port`, or None when it ended before it listened."""
    config = os.path.join(args.state, "nginx.conf")
    with open(config, "w", encoding="ascii") as f:
        f.write(configuration(args, port))
    nginx = subprocess.Popen(
        [NGINX, "-p", args.state, "-e", os.path.join(args.state, "error.log"), "-c", config],
        stdin=subprocess.DEVNULL,
        preexec_fn=end_with_parent,
    )
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if nginx.poll() is not None:
            return None
        if listening(port):
            return nginx
        time.sleep(0.05)
    nginx.kill()
    nginx.wait()
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    parser.add_argument("--redirect", action="append", default=[])
    parser.add_argument("--time-out-kept", action="store_true")
    test_server_control.add_arguments(parser)
    args = parser.parse_args()
    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(args.state, kind), exist_ok=True)

    nginx = None
    for _ in range(1 if args.port else PORT_TRIES):
        port = args.port or free_port()
        nginx = start(args, port)
        if nginx:
            break
    if not nginx:
        with open(os.path.join(args.state, "error.log"), encoding="utf-8", errors="replace") as log:
            sys.exit("nginx did not start: " + log.read())

    def stop():
        # Fast shutdown, then we go.
        nginx.terminate()
        nginx.wait()
        os._exit(0)

    # Waited for rather than handled: a handler could interrupt a wait for nginx.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGCHLD})
    test_server_control.announce(args, port, on_end=stop)
    while nginx.poll() is None:
        received = signal.sigtimedwait({signal.SIGTERM, signal.SIGCHLD}, 1)
        if received and received.si_signo == signal.SIGTERM:
            stop()


if __name__ == "__main__":
    main()

"""How a test server tells that it listens, and how it ends.

By default it prints "ready <port>" and ends on SIGTERM. A test program that
can neither read our output as it comes nor signal or wait for us (a Windows
program under wine, which starts us as a Unix process) passes --ready-file
instead: we then also listen on a control port, write "ready <port>
<control port>" to that file in one step, and end as soon as the one control
connection closes. The test closes it to stop us, and the system closes it when
the test ends in any other way, so no server outlives its test.
"""

import os
import socket
import threading

# The test connects right after reading the ready file; a test that never does
# has gone.
CONTROL_ACCEPT_SECONDS = 60


def add_arguments(parser):
    parser.add_argument("--ready-file", default="")


def announce(args, port, on_end=None):
    """Reports `port` and arranges the end, as the arguments ask; `on_end`, when
    given, is called before a server told to end through its control port
    goes (it may end the process itself)."""
    if not args.ready_file:
        print(f"ready {port}", flush=True)
        return
    control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    control.bind(("127.0.0.1", 0))
    control.listen(1)
    control.settimeout(CONTROL_ACCEPT_SECONDS)
    staging = args.ready_file + ".part"
    with open(staging, "w", encoding="ascii") as f:
        f.write(f"ready {port} {control.getsockname()[1]}\n")
    os.replace(staging, args.ready_file)
    threading.Thread(target=_end_with_control, args=(control, on_end), daemon=True).start()


def _end_with_control(control, on_end):
    try:
        connection, _ = control.accept()
        connection.settimeout(None)
        while connection.recv(4096):
            pass
    except OSError:
        pass
    if on_end:
        on_end()
    # Every thread of the server goes, held connections included.
    os._exit(0)

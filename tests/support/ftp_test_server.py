#!/usr/bin/python3
"""FTP server for tests, on 127.0.0.1 only, passive mode, read-only.

Serves one folder to anonymous users, or, with --user NAME:PASSWORD, to that
one account only. With --cut-after N the first file sent has its data
connection closed once N bytes or a little more have gone, with "426". With
--ignore-rest a REST is answered "350" but every file is sent from its start;
with --size-short N a SIZE reply tells N bytes fewer than the file has; with
--pause S the data connection waits S seconds before each 64 KiB. Prints
"ready <port>" once it listens and ends on SIGTERM, or reports and ends as
test_server_control.py describes.
"""

import argparse
import logging
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

import test_server_control

BLOCK = 65536


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cut-after", type=int, default=0)
    parser.add_argument("--ignore-rest", action="store_true")
    parser.add_argument("--size-short", type=int, default=0)
    parser.add_argument("--no-size", action="store_true")
    parser.add_argument("--pause", type=float, default=0)
    test_server_control.add_arguments(parser)
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    if args.user:
        name, _, password = args.user.partition(":")
        authorizer.add_user(name, password, args.root, perm="elr")
    else:
        authorizer.add_anonymous(args.root, perm="elr")

    class CuttingDTPHandler(DTPHandler):
        cuts_left = 1 if args.cut_after else 0

        def use_sendfile(self):
            return False  # send() sees every byte

        def send(self, data):
            # The whole server waits: simplest, and a test has one client.
            if args.pause and self.tot_bytes_sent >= getattr(self, "paused_at", -BLOCK) + BLOCK:
                self.paused_at = self.tot_bytes_sent
                time.sleep(args.pause)
            sent = super().send(data)
            if CuttingDTPHandler.cuts_left and self.tot_bytes_sent >= args.cut_after:
                CuttingDTPHandler.cuts_left -= 1
                self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
                self.close()
            return sent

    class Handler(FTPHandler):
        dtp_handler = CuttingDTPHandler

        def ftp_RETR(self, file):
            if args.ignore_rest:
                self._restart_position = 0
            return super().ftp_RETR(file)

        def ftp_SIZE(self, path):
            if args.no_size:
                self.respond("550 SIZE not implemented.")
                return
            if not args.size_short or not self.fs.isfile(self.fs.realpath(path)):
                return super().ftp_SIZE(path)
            self.respond("213 %d" % max(0, self.fs.getsize(path) - args.size_short))

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0.1  # a refused login answers at once
    Handler.masquerade_address = "127.0.0.1"
    Handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", args.port), Handler)
    test_server_control.announce(args, server.address[1])
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    sys.exit(main())

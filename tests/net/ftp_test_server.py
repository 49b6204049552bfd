#!/usr/bin/env python3
"""FTP server on 127.0.0.1 for the upload tests: one user with full rights on
a home folder, "reader" (password "reader") who may look but not store, and
"strict" (password "strict") whose server refuses a change to no directory.
Usage: ftp_test_server.py HOME USER PASSWORD; prints its port."""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Handler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        if cmd == "CWD" and not arg and self.username == "strict":
            self.respond("550 No directory given.")
            return
        super().pre_process_command(line, cmd, arg)


def main():
    home, user, password = sys.argv[1:4]
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    authorizer.add_user("reader", "reader", home, perm="elr")
    authorizer.add_user("strict", "strict", home, perm="elradfmwMT")
    handler = Handler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0  # no pause after a wrong password
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())

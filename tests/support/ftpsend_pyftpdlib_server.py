#!/usr/bin/python3
"""pyftpdlib on a loopback port with one user owning a temporary root.

Usage: ftpsend_pyftpdlib_server.py PORT ROOT USER PASSWORD [HOST]
"""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    host = sys.argv[5] if len(sys.argv) > 5 else "127.0.0.1"
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.permit_foreign_addresses = False
    server = FTPServer((host, port), handler)
    server.max_cons = 32
    server.serve_forever()


if __name__ == "__main__":
    main()

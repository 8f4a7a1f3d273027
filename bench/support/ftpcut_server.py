#!/usr/bin/python3
"""pyftpdlib for bench_ftpretry: serves ROOT to anonymous users on
127.0.0.1:PORT, cuts the first download once CUT bytes of data have gone
out (both connections closed, as a server that restarts does), and keeps
the count of data bytes sent over all sessions in COUNT_FILE.

Usage: ftpcut_server.py PORT ROOT CUT COUNT_FILE
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

PORT, ROOT, CUT, COUNT_FILE = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
state = {"sent": 0, "cut": False}


class CountingDTPHandler(DTPHandler):
    def _account(self, before):
        state["sent"] += self.tot_bytes_sent - before
        if not state["cut"] and state["sent"] >= CUT:
            state["cut"] = True
            self.cmd_channel.close()

    def initiate_sendfile(self):
        before = self.tot_bytes_sent
        super().initiate_sendfile()
        self._account(before)

    def send(self, data):
        before = self.tot_bytes_sent
        result = super().send(data)
        self._account(before)
        return result

    def close(self):
        with open(COUNT_FILE, "w") as f:
            f.write(str(state["sent"]))
        super().close()


def main():
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(ROOT)
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = CountingDTPHandler
    FTPServer(("127.0.0.1", PORT), handler).serve_forever()


if __name__ == "__main__":
    main()

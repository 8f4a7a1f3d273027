#!/usr/bin/python3
"""A scripted FTP server for the job tests: it misbehaves on demand.

Usage: ftpjobs_server.py PORT SCRIPT.json TRANSCRIPT [STORE_DIR]

It serves one control connection after another on 127.0.0.1:PORT and
appends every command line it receives to TRANSCRIPT (latin-1, one a line).
Without a rule it acts as a small, correct server: USER/PASS (any), CWD,
TYPE, STRU, MODE, REST, ALLO, NOOP, PWD, EPSV, PASV, EPRT, PORT, LIST, RETR,
STOR, SIZE, DELE, QUIT. Uploads land in STORE_DIR.

The script (JSON, texts latin-1 so that any byte can be written):
  "greeting":  reply text for the greeting (default "220 scripted")
  "files":     {name: content}, what RETR sends and SIZE reports
  "listing":   [line, ...], what LIST sends (default: one line per file)
  "sent":      {name: content}, sent by RETR in place of the file's content
  "size":      {name: number}, added to the true size in SIZE replies
  "rules":     [{"cmd": "PASS", "arg": optional exact argument,
                 "reply": text (lines split at "\n"),
                 or "action": "drop" (close the control connection at once)
                 or "action": "drop_data" (RETR/STOR: 150, move half the
                 data, then close both connections; a STOR keeps its first
                 1000 bytes),
                 "once": true (only the first time, over all connections)}]
  "refuse":    how many connections are closed at once, before the greeting
RETR and STOR start at the offset of a REST just before.
"""
import json
import os
import socket
import sys

TIMEOUT = 20


class Session:
    def __init__(self, conn, script, transcript, store):
        self.conn = conn
        self.script = script
        self.transcript = transcript
        self.store = store
        self.buffer = b""
        self.passive = None  # listening socket after PASV/EPSV
        self.active = None  # (host, port) after PORT/EPRT
        self.files = {k: v.encode("latin-1") for k, v in script.get("files", {}).items()}
        self.rest = 0

    def send(self, text):
        self.conn.sendall(text.encode("latin-1") + b"\r\n")

    def readline(self):
        while b"\n" not in self.buffer:
            chunk = self.conn.recv(4096)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r").decode("latin-1")

    def rule_for(self, cmd, arg):
        for rule in self.script.get("rules", []):
            if rule["cmd"] == cmd and rule.get("arg", arg) == arg and not rule.get("fired"):
                rule["fired"] = rule.get("once", False)
                return rule
        return None

    def open_data(self):
        if self.passive is not None:
            self.passive.settimeout(TIMEOUT)
            data, _ = self.passive.accept()
            self.passive.close()
            self.passive = None
            return data
        if self.active is not None:
            data = socket.create_connection(self.active, TIMEOUT)
            self.active = None
            return data
        return None

    def listen(self):
        if self.passive is not None:
            self.passive.close()
        self.passive = socket.socket()
        self.passive.bind(("127.0.0.1", 0))
        self.passive.listen(1)
        return self.passive.getsockname()[1]

    def content(self, name):
        if name in self.files:
            return self.files[name]
        path = os.path.join(self.store, name) if self.store else None
        if path and "/" not in name and os.path.isfile(path):
            with open(path, "rb") as f:
                return f.read()
        return None

    def listing(self):
        lines = self.script.get("listing")
        if lines is None:
            lines = ["-rw-r--r--   1 ftp      ftp      %8d Mar 04  2021 %s" % (len(v), k)
                     for k, v in self.files.items()]
        return "".join(line + "\r\n" for line in lines).encode("latin-1")

    def transfer_out(self, payload, half):
        self.send("150 Opening data connection.")
        data = self.open_data()
        if data is None:
            self.send("425 No data connection.")
            return True
        if half:
            data.sendall(payload[: len(payload) // 2])
            data.close()
            return False
        data.sendall(payload)
        data.close()
        self.send("226 Transfer complete.")
        return True

    def transfer_in(self, name, half, rest):
        self.send("150 Ready to receive.")
        data = self.open_data()
        if data is None:
            self.send("425 No data connection.")
            return True
        received = b""
        while True:
            chunk = data.recv(1000 - len(received) if half else 65536)
            if not chunk:
                break
            received += chunk
            if half and len(received) >= 1000:
                break
        data.close()
        received = (self.content(name) or b"")[:rest] + received
        if self.store:
            with open(os.path.join(self.store, os.path.basename(name)), "wb") as f:
                f.write(received)
        self.files[name] = received
        if half:
            return False
        self.send("226 Transfer complete.")
        return True

    def handle(self, cmd, arg):
        """Answers one command; False ends the session."""
        rule = self.rule_for(cmd, arg)
        if rule is not None and rule.get("action") == "drop":
            return False
        if rule is not None and "reply" in rule:
            for line in rule["reply"].split("\n"):
                self.send(line)
            return cmd != "QUIT"
        half = rule is not None and rule.get("action") == "drop_data"
        rest, self.rest = self.rest, 0
        if cmd == "USER":
            self.send("331 Password required.")
        elif cmd == "PASS":
            self.send("230 Logged in.")
        elif cmd in ("CWD", "TYPE", "STRU", "MODE", "NOOP", "ALLO"):
            self.send("200 OK.")
        elif cmd == "REST":
            self.rest = int(arg)
            self.send("350 Restarting at %s." % arg)
        elif cmd == "PWD":
            self.send('257 "/" is the current directory.')
        elif cmd == "EPSV":
            self.send("229 Entering Extended Passive Mode (|||%d|)" % self.listen())
        elif cmd == "PASV":
            port = self.listen()
            self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port // 256, port % 256))
        elif cmd == "EPRT":
            parts = arg.split(arg[:1]) if arg else []
            self.active = (parts[2], int(parts[3]))
            self.send("200 EPRT OK.")
        elif cmd == "PORT":
            f = arg.split(",")
            self.active = (".".join(f[:4]), int(f[4]) * 256 + int(f[5]))
            self.send("200 PORT OK.")
        elif cmd == "LIST":
            return self.transfer_out(self.listing(), half)
        elif cmd == "RETR":
            payload = self.content(arg)
            if payload is None:
                self.send("550 No such file.")
            else:
                sent = self.script.get("sent", {})
                payload = sent[arg].encode("latin-1") if arg in sent else payload
                return self.transfer_out(payload[rest:], half)
        elif cmd == "STOR":
            return self.transfer_in(arg, half, rest)
        elif cmd == "SIZE":
            payload = self.content(arg)
            if payload is None:
                self.send("550 No such file.")
            else:
                self.send("213 %d" % (len(payload) + self.script.get("size", {}).get(arg, 0)))
        elif cmd == "DELE":
            if arg in self.files:
                del self.files[arg]
                self.send("250 Deleted.")
            else:
                self.send("550 No such file.")
        elif cmd == "QUIT":
            self.send("221 Bye.")
            return False
        else:
            self.send("502 Not implemented.")
        return True

    def run(self):
        for line in self.script.get("greeting", "220 scripted").split("\n"):
            self.send(line)
        while True:
            line = self.readline()
            if line is None:
                return
            with open(self.transcript, "a", encoding="latin-1") as f:
                f.write(line + "\n")
            cmd, _, arg = line.partition(" ")
            if not self.handle(cmd.upper(), arg):
                return


def main():
    port = int(sys.argv[1])
    with open(sys.argv[2], encoding="latin-1") as f:
        script = json.load(f)
    transcript = sys.argv[3]
    store = sys.argv[4] if len(sys.argv) > 4 else ""
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(5)
    while True:
        conn, _ = server.accept()
        if script.get("refuse", 0) > 0:
            script["refuse"] -= 1
            conn.close()
            continue
        conn.settimeout(TIMEOUT)
        try:
            Session(conn, script, transcript, store).run()
        except (OSError, ValueError, IndexError):
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Scripted HTTP server on 127.0.0.1 for the client tests.

Prints its port, then answers each connection by the path of its request:
every case a well-behaved server would never produce but a client must
survive. /hits/<path> tells how many requests <path> has had.
"""
import socket
import socketserver
import sys
import threading
import time
from collections import Counter

hits = Counter()
hits_lock = threading.Lock()


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            break
        data += piece
    return data


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        head = read_head(conn)
        if not head:
            return
        path = head.split(b" ")[1].decode("latin-1")
        with hits_lock:
            hits[path] += 1
        port = self.server.server_address[1]
        try:
            self.answer(conn, path, head, port)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def answer(self, conn, path, head, port):
        send = conn.sendall
        if path in ("/", "/echo") or path.startswith("/echo/"):
            send(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + head)
        elif path == "/notfound":
            send(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n"
                 b"<html><body>No such page</body></html>")
        elif path == "/redirect":
            send(b"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:%d/echo/target\r\n"
                 b"Set-Cookie: session=abc123\r\n\r\nMoved" % port)
        elif path == "/relative":
            send(b"HTTP/1.0 301 Moved Permanently\r\nLocation: /echo/relative\r\n\r\n")
        elif path == "/bare":
            send(b"HTTP/1.0 302 Found\r\nLocation: echo\r\n\r\n")
        elif path == "/set-cookie-200":
            send(b"HTTP/1.0 200 OK\r\nSet-Cookie: ignored=1\r\n\r\nfine")
        elif path == "/bytewise":
            for b in b"HTTP/1.0 200 OK\r\nX-Slow: yes\r\n\r\n1.0.4.0\r\n":
                send(bytes([b]))
                time.sleep(0.005)
        elif path == "/silent":
            time.sleep(30)
        elif path == "/silent-body":
            send(b"HTTP/1.0 200 OK\r\n\r\npartial")
            time.sleep(30)
        elif path == "/slow-body":
            send(b"HTTP/1.0 200 OK\r\n\r\n")
            for i in range(8):
                time.sleep(0.15)
                send(b"%d" % i)
        elif path == "/noreason":
            send(b"HTTP/1.0 200\r\n\r\nbody")
        elif path == "/lf-only":
            send(b"HTTP/1.0 200 OK\nContent-Type: text/plain\n\nunix lines")
        elif path == "/content-length":
            send(b"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef")
        elif path == "/endless":
            send(b"HTTP/1.0 200 OK\r\n\r\n")
            chunk = b"x" * 65536
            while True:
                send(chunk)
        elif path == "/endless-head":
            send(b"HTTP/1.0 200 OK\r\n")
            line = b"X-Filler: " + b"y" * 1000 + b"\r\n"
            while True:
                send(line)
        elif path == "/exactly-1mib":
            send(b"HTTP/1.0 200 OK\r\n\r\n" + b"z" * (1024 * 1024))
        elif path == "/loop":
            send(b"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:%d/loop\r\n\r\n" % port)
        elif path == "/see-other":
            send(b"HTTP/1.0 303 See Other\r\nLocation: /echo\r\n\r\n")
        elif path.startswith("/hits/"):
            with hits_lock:
                count = hits[path[len("/hits"):]]
            send(b"HTTP/1.0 200 OK\r\n\r\n%d" % count)
        elif path == "/close-at-once":
            pass
        else:
            send(b"HTTP/1.0 500 Internal Server Error\r\n\r\nunknown case")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())

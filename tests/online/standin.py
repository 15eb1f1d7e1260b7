#!/usr/bin/env python3
"""Servers that misbehave, for the HTTP client's tests. Listens on 127.0.0.1
only and prints its port. Each path is one kind of bad reply:

  /status/N     status N, a short body        /short     less than its length
  /nolength     a body ended by closing        /endless   bytes without end
  /huge         announces 3 GB                 /binary    bytes that are no text
  /silent       accepts, never answers         /trickle   one byte every 100 ms
  /redirect     302 to /nolength               /loop      redirects to itself
  /echo         the request as text
"""
import socket
import socketserver
import sys
import time


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        s.settimeout(30)
        data = b""
        try:
            while b"\r\n\r\n" not in data:
                chunk = s.recv(65536)
                if not chunk:
                    return
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            lines = head.decode("latin-1").split("\r\n")
            method, path, _ = lines[0].split(" ", 2)
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            length = int(headers.get("content-length", "0") or 0)
            while len(body) < length:
                chunk = s.recv(65536)
                if not chunk:
                    break
                body += chunk
            self.answer(s, method, path, head, body)
        except (OSError, ValueError):
            pass

    @staticmethod
    def send(s, status, headers, body=b""):
        text = "HTTP/1.1 %s\r\n" % status + "".join("%s: %s\r\n" % h for h in headers) + "\r\n"
        s.sendall(text.encode("latin-1") + body)

    def answer(self, s, method, path, head, body):
        if path.startswith("/status/"):
            code = path.split("/")[2]
            self.send(s, code + " X", [("Content-Length", "5"), ("Connection", "close")], b"hello")
        elif path == "/short":
            self.send(s, "200 OK", [("Content-Length", "1000"), ("Connection", "close")], b"x" * 100)
        elif path == "/nolength":
            self.send(s, "200 OK", [("Connection", "close")], b"all of it")
        elif path == "/endless":
            self.send(s, "200 OK", [("Connection", "close")])
            block = b"e" * 65536
            while True:
                s.sendall(block)
        elif path == "/huge":
            self.send(s, "200 OK", [("Content-Length", str(3 * 1024 ** 3)), ("Connection", "close")])
            block = b"h" * 65536
            while True:
                s.sendall(block)
        elif path == "/binary":
            data = bytes(range(256)) * 16
            self.send(s, "200 OK", [("Content-Length", str(len(data))), ("Connection", "close")], data)
        elif path == "/silent":
            time.sleep(60)
        elif path == "/trickle":
            self.send(s, "200 OK", [("Content-Length", "100000"), ("Connection", "close")])
            for _ in range(600):
                s.sendall(b"t")
                time.sleep(0.1)
        elif path == "/redirect":
            self.send(s, "302 Found", [("Location", "/nolength"), ("Content-Length", "0")])
        elif path == "/loop":
            self.send(s, "302 Found", [("Location", "/loop"), ("Content-Length", "0")])
        elif path == "/echo":
            text = head + b"\r\n\r\n" + body
            self.send(s, "200 OK", [("Content-Length", str(len(text))), ("Connection", "close")], text)
        else:
            self.send(s, "404 Not Found", [("Content-Length", "0"), ("Connection", "close")])


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())

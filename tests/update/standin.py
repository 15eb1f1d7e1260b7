#!/usr/bin/env python3
"""A stand-in update service that misbehaves on request, for the update tests.

    standin.py RELEASE_DIR

Listens on 127.0.0.1 only, on a free port, and prints "port N" once ready.
Every address starts with /m/MODE/, which picks what it does:

  /m/MODE/update?...        the update answer for the files of RELEASE_DIR
  /m/MODE/files/NAME        the file NAME of RELEASE_DIR

MODE: ok (honest answer), silent (the same, marked silent), none (no update),
empty (an OK answer listing no file), nosha (a Ver without its digest),
tamper (the file sent differs from the digest announced), cut (the file's
connection closes half-way through its announced length).
It ends when its standard input closes.
"""
import hashlib
import http.server
import os
import sys
import threading
import urllib.parse

release = sys.argv[1]
requests = []


def files():
    return sorted(n for n in os.listdir(release) if not n.startswith('.'))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def send(self, status, body, length=None, ctype='text/xml'):
        self.send_response(status)
        self.send_header('Content-Type', ctype)
        self.send_header('Content-Length', str(len(body) if length is None else length))
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split('/')
        requests.append(self.path)
        if len(parts) < 4 or parts[1] != 'm':
            return self.send(404, b'')
        mode, what = parts[2], parts[3]
        base = 'http://127.0.0.1:%d/m/%s/files/' % (self.server.server_port, mode)
        if what == 'update':
            if mode == 'none':
                return self.send(200, b'<Result Status="NONE"/>')
            vers = ''
            if mode != 'empty':
                for name in files():
                    data = open(os.path.join(release, name), 'rb').read()
                    sha = '' if mode == 'nosha' else ' SHA256="%s"' % hashlib.sha256(data).hexdigest()
                    vers += '<Ver ENT="%s" URL="%s%s"%s Size="%d"/>' % (
                        name.upper(), base, urllib.parse.quote(name), sha, len(data))
            silent = '1' if mode == 'silent' else '0'
            body = '<Result Status="OK"><Vers>%s</Vers><Silent>%s</Silent></Result>' % (vers, silent)
            return self.send(200, body.encode())
        if what == 'files' and len(parts) == 5:
            name = urllib.parse.unquote(parts[4])
            if name not in files():
                return self.send(404, b'')
            data = open(os.path.join(release, name), 'rb').read()
            if mode == 'tamper':
                data = data[:len(data) // 2] + bytes([data[len(data) // 2] ^ 1]) + data[len(data) // 2 + 1:]
            if mode == 'cut':
                return self.send(200, data[:len(data) // 2], length=len(data), ctype='application/octet-stream')
            return self.send(200, data, ctype='application/octet-stream')
        return self.send(404, b'')


server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
print('port %d' % server.server_port, flush=True)
sys.stdin.read()
server.shutdown()

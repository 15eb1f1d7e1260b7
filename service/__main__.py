"""Development and test start: python3 -m service --host 127.0.0.1 --port 0
--db FILE --release DIR [--tls-cert PEM --tls-key PEM]. Prints the bound port
on its first line of standard output."""
import argparse
import ssl
import sys
import threading
from socketserver import ThreadingMixIn
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer, make_server

from .app import make_app


class _Server(ThreadingMixIn, WSGIServer):
    daemon_threads = True


class _QuietHandler(WSGIRequestHandler):
    def log_message(self, format, *args):
        pass


def main(argv=None):
    ap = argparse.ArgumentParser(prog="python3 -m service")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--db", required=True)
    ap.add_argument("--release", default=None)
    ap.add_argument("--addons", default=None, help="table of unwanted add-ons (tsv, column identifier)")
    ap.add_argument("--base-url", default=None, help="address the update answer names files under")
    ap.add_argument("--tls-cert")
    ap.add_argument("--tls-key")
    args = ap.parse_args(argv)
    if args.host not in ("127.0.0.1", "localhost", "::1") and not args.base_url:
        # Not an error, but the update answer needs to know how callers reach us.
        pass
    app = make_app(db=args.db, release=args.release, addons=args.addons, base_url=args.base_url)
    server = make_server(args.host, args.port, app, server_class=_Server, handler_class=_QuietHandler)
    if args.tls_cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

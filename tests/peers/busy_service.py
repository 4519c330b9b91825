#!/usr/bin/python3
"""A service too busy to take the record, for the scheduled run's tests.
Serves a good WSDL, and refuses one of the two requests as an overloaded
service does; stops by itself after --max-seconds. Prints "READY <port>".

    busy_service.py --mode busy503|busy429 [--port 0] [--max-seconds 600]
"""
import argparse
import http.server
import os
import threading
import time

WSDL_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"
FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit", "data",
                       "document_literal_inventory.wsdl")
# mode: (the request refused, its status, its headers)
MODES = {
    "busy503": ("POST", 503, [("Retry-After", "120")]),  # the call, with a time to come back
    "busy429": ("GET", 429, []),  # already the description, without one
}


class Handler(http.server.BaseHTTPRequestHandler):
    mode = None
    port = 0
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def send(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def answer(self, method):
        refused, status, headers = MODES[self.mode]
        if method == "POST":
            self.rfile.read(int(self.headers.get("Content-Length", "0") or 0))
        if method == refused:
            return self.send(status, b"busy", headers)
        if not self.path.startswith(WSDL_PATH):
            return self.send(404, b"not found")
        with open(FIXTURE, encoding="utf-8") as f:
            text = f.read()
        # The fixture's endpoint, moved to this server.
        start = text.find('location="') + len('location="')
        end = text.find('"', start)
        path = text[start:end].split("/", 3)[3]
        self.send(200, (text[:start] + "http://127.0.0.1:%d/%s" % (self.port, path) + text[end:]).encode())

    def do_GET(self):
        self.answer("GET")

    def do_POST(self):
        self.answer("POST")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", required=True, choices=sorted(MODES))
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--max-seconds", type=float, default=600)
    args = p.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    Handler.mode = args.mode
    Handler.port = server.server_address[1]
    print("READY %d" % Handler.port, flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    time.sleep(args.max_seconds)
    server.shutdown()


if __name__ == "__main__":
    main()

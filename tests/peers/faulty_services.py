#!/usr/bin/python3
"""Services that misbehave, for the upload's failure tests: one process, one
port on 127.0.0.1 per behaviour in BEHAVIOURS (those in TLS over TLS, with
--tls CERT KEY), stopped by itself after --max-seconds. Prints "READY
mode=port ..." once all listen. GET /requests tells how many requests a
behaviour was sent (not counting that one).
"""
import argparse
import http.server
import os
import random
import socket
import ssl
import threading
import time

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "unit", "data")
WSDL_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"
DEFINITIONS = b'<definitions xmlns="http://schemas.xmlsoap.org/wsdl/">'
FAULT = (b'<?xml version="1.0" encoding="UTF-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
         b'<soap:Body><soap:Fault><faultcode>soap:Server</faultcode><faultstring>refused for the test</faultstring>'
         b'</soap:Fault></soap:Body></soap:Envelope>')
ANSWER = (b'<?xml version="1.0" encoding="UTF-8"?><SOAP-ENV:Envelope '
          b'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body>'
          b'<ns1:setSaveSoftwareInformationResponse xmlns:ns1="urn:DefaultNamespace"><return>OK</return>'
          b'</ns1:setSaveSoftwareInformationResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>')


def bomb():  # nested entities that expand to 12,000,000,000 characters
    lines = [b'<!ENTITY l0 "lollollollol">'] + [
        b'<!ENTITY l%d "%s">' % (i, b"&l%d;" % (i - 1) * 10) for i in range(1, 10)]
    return (b'<?xml version="1.0"?><!DOCTYPE definitions [' + b"".join(lines) + b']>' + DEFINITIONS +
            b"<documentation>&l9;</documentation></definitions>")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def send(self, status, body, ctype="text/xml; charset=utf-8", length=None, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def wsdl(self, endpoint=None):
        """The service description of the data folder, its endpoint on this server unless given."""
        with open(os.path.join(DATA, "document_literal_inventory.wsdl")) as f:
            text = f.read()
        start = text.find('location="') + len('location="')
        end = text.find('"', start)
        path = text[start:end].split("/", 3)[3]
        endpoint = endpoint or "http://127.0.0.1:%d/%s" % (self.server.server_address[1], path)
        return (text[:start] + endpoint + text[end:]).encode("utf-8")

    def stream(self, total, chunk, length=True):
        """total bytes of chunk repeated; stops quietly when the peer goes."""
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header(*(("Content-Length", str(total)) if length else ("Connection", "close")))
        self.close_connection = not length
        self.end_headers()
        try:
            for sent in range(0, total, len(chunk)):
                self.wfile.write(chunk[: total - sent])
        except OSError:
            self.close_connection = True

    def trickle(self):
        """The description's answer, status line first, one byte a second for
        40 s (a little beyond the client's 30 s limit); then the connection closes."""
        body = self.wsdl()
        answer = b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n" % len(body) + body
        self.close_connection = True
        try:
            for i in range(40):
                self.wfile.write(answer[i:i + 1])
                self.wfile.flush()
                time.sleep(1.0)
        except OSError:
            pass

    def closemid(self):
        """An answer announced 4 times as long as what comes before the close."""
        self.send(200, ANSWER[: len(ANSWER) // 2], "text/xml", len(ANSWER) * 4)
        self.wfile.flush()
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_RDWR)

    def handle_one(self, verb):
        server = self.server
        if self.path == "/requests":
            return self.send(200, str(server.requests).encode("ascii"), "text/plain")
        with Handler.lock:
            server.requests += 1
        if verb == "POST":
            self.rfile.read(min(int(self.headers.get("Content-Length") or 0), 16 << 20))
        get, post = BEHAVIOURS[server.mode]
        act = get if verb == "GET" else post
        if act is None:  # the default: a good description, then the good answer
            if verb == "POST":
                return self.send(200, ANSWER)
            return self.send(200, self.wsdl()) if self.path.startswith(WSDL_PATH) else self.send(404, b"", "text/plain")
        return act(self)

    def do_GET(self):
        self.handle_one("GET")

    def do_POST(self):
        self.handle_one("POST")


# mode: (what a GET gets, what a POST gets); None is the well-behaved answer.
BEHAVIOURS = {
    "single": (None, None),  # well behaved, with the record's operation alone (an older service)
    "fault500": (None, lambda h: h.send(500, FAULT)),
    "bomb": (lambda h: h.send(200, bomb()), None),
    "nested": (lambda h: h.send(200, b'<?xml version="1.0"?>' + DEFINITIONS + b"<a>" * 100000 + b"</a>" * 100000 +
                                b"</definitions>"), None),
    "huge": (lambda h: h.stream(50 << 20, b"<documentation>" + b"x" * 65520 + b"</documentation>", length=False),
             None),
    "redirectcall": (None, lambda h: h.send(307, b"", headers=[("Location", "http://127.0.0.1:%d%s" % (
        h.server.server_address[1], h.path))])),
    "trickle": (Handler.trickle, None),
    "closemid": (None, Handler.closemid),
    "garbage10": (None, lambda h: h.stream(10 << 20, random.Random(7).randbytes(1 << 20))),
    # Too busy: the call refused with a time to come back, or already the description without one.
    "busy503": (None, lambda h: h.send(503, b"busy", "text/plain", headers=[("Retry-After", "120")])),
    "busy429": (lambda h: h.send(429, b"busy", "text/plain"), None),
    "silent": (lambda h: time.sleep(max(0.0, DEADLINE - time.monotonic())),) * 2,  # never answers
    # Over TLS: descriptions that send the call out of https, or to another name of the host.
    "tlshttpcall": (lambda h: h.send(200, h.wsdl("http://127.0.0.1:%d/%s")), None),
    "tlselsewhere": (lambda h: h.send(200, h.wsdl("https://localhost:%d/%s")), None),
}
TLS = ("tlshttpcall", "tlselsewhere")
DEADLINE = 0.0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--max-seconds", type=float, default=600)
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = p.parse_args()
    global DEADLINE
    DEADLINE = time.monotonic() + args.max_seconds
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER) if args.tls and os.path.exists(args.tls[0]) else None
    if tls:
        tls.load_cert_chain(*args.tls)
    ports = []
    for mode in [m for m in BEHAVIOURS if tls or m not in TLS]:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        if mode in TLS:
            # The handshake in the request's thread, not in the accepting one.
            server.socket = tls.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        server.daemon_threads = True
        server.mode, server.requests = mode, 0
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ports.append("%s=%d" % (mode, server.server_address[1]))
    print("READY " + " ".join(ports), flush=True)
    time.sleep(max(0.0, DEADLINE - time.monotonic()))


if __name__ == "__main__":
    main()

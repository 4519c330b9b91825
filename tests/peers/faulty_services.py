#!/usr/bin/python3
"""Services that misbehave, for the upload's failure tests. One process
serves one behaviour on 127.0.0.1 and stops by itself after --max-seconds.

    faulty_services.py --mode MODE [--port 0] [--max-seconds 600]

Modes:
  silent     accepts connections and never answers
  fault500   a good WSDL, then a SOAP fault with status 500 for the call
  garbage    answers every request with bytes that are not XML
  entity     a WSDL with an entity declaration
  rpc        an rpc/encoded WSDL (urn:DefaultNamespace, ?OpenWebService);
             GET /received returns the last request body it was sent
  bomb       a WSDL with nested entities that expand to 12,000,000,000 characters
  quadratic  a WSDL with one 100 KB entity referenced 10,000 times
  xxe        a WSDL with external entities (a file and this server)
  nested     a WSDL with 100,000 nested elements
  huge       a WSDL of 50 MB, sent without a length until the peer stops
  fileurl    a WSDL whose endpoint is a file: URL
  ftpurl     a WSDL whose endpoint is an ftp: URL on this server
  redirect   every request redirected to itself, for ever
  redirectcall  a good WSDL; the call redirected to itself
  trickle    the WSDL's answer one byte a second, from its status line on,
             for 40 s
  closemid   a good WSDL; the call's answer stops half-way, connection closed
  garbage10  a good WSDL; the call answered with 10 MB of random bytes
Every mode counts the requests it was sent; GET /requests tells how many
(that request and GET /received are not counted).
Prints "READY <port>" once it listens.
"""
import argparse
import http.server
import os
import random
import socket
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WSDL_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"
FAULT = (b'<?xml version="1.0" encoding="UTF-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
         b'<soap:Body><soap:Fault><faultcode>soap:Server</faultcode><faultstring>refused for the test</faultstring>'
         b'</soap:Fault></soap:Body></soap:Envelope>')
RPC_ANSWER = (b'<?xml version="1.0" encoding="UTF-8"?><SOAP-ENV:Envelope '
              b'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body>'
              b'<ns1:setSaveSoftwareInformationResponse xmlns:ns1="urn:DefaultNamespace"><return>OK</return>'
              b'</ns1:setSaveSoftwareInformationResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>')


def fixture(name):
    with open(os.path.join(HERE, "..", "unit", "data", name), "rb") as f:
        return f.read()


MODES = ["silent", "fault500", "garbage", "entity", "rpc", "bomb", "quadratic", "xxe", "nested", "huge",
         "fileurl", "ftpurl", "redirect", "redirectcall", "trickle", "closemid", "garbage10"]
DEFINITIONS = b'<definitions xmlns="http://schemas.xmlsoap.org/wsdl/">'


def bomb():
    lines = [b'<!ENTITY l0 "lollollollol">']
    for i in range(1, 10):
        refs = b"".join(b"&l%d;" % (i - 1) for _ in range(10))
        lines.append(b'<!ENTITY l%d "%s">' % (i, refs))
    return (b'<?xml version="1.0"?><!DOCTYPE definitions [' + b"".join(lines) + b']>' + DEFINITIONS +
            b"<documentation>&l9;</documentation></definitions>")


def quadratic():
    return (b'<?xml version="1.0"?><!DOCTYPE definitions [<!ENTITY a "' + b"a" * 100000 + b'">]>' + DEFINITIONS +
            b"<documentation>" + b"&a;" * 10000 + b"</documentation></definitions>")


def nested():
    depth = 100000
    return b'<?xml version="1.0"?>' + DEFINITIONS + b"<a>" * depth + b"</a>" * depth + b"</definitions>"


class Handler(http.server.BaseHTTPRequestHandler):
    mode = None
    port = 0
    received = b""
    requests = 0
    lock = threading.Lock()
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def count(self):
        if self.path not in ("/requests", "/received"):
            with Handler.lock:
                Handler.requests += 1

    def send(self, status, body, ctype="text/xml; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def wsdl(self):
        doc = fixture("rpc_encoded_inventory.wsdl" if self.mode == "rpc" else "document_literal_inventory.wsdl")
        # Point the fixture's endpoint at this server.
        text = doc.decode("utf-8")
        start = text.find('location="') + len('location="')
        end = text.find('"', start)
        path = text[start:end].split("/", 3)[3] if text[start:end].count("/") >= 3 else ""
        endpoint = "http://127.0.0.1:%d/%s" % (self.port, path)
        if self.mode == "fileurl":
            endpoint = "file:///C:/windows/win.ini"
        elif self.mode == "ftpurl":
            endpoint = "ftp://127.0.0.1:%d/%s" % (self.port, path)
        return (text[:start] + endpoint + text[end:]).encode("utf-8")

    def redirect(self, status):
        self.send_response(status)
        self.send_header("Location", "http://127.0.0.1:%d%s" % (self.port, self.path))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def stream(self, total, chunk, pause=0.0, length=True):
        """Sends total bytes of chunk repeated; stops quietly when the peer goes."""
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        if length:
            self.send_header("Content-Length", str(total))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        sent = 0
        try:
            while sent < total:
                part = chunk[: total - sent]
                self.wfile.write(part)
                self.wfile.flush()
                sent += len(part)
                if pause:
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError, OSError):
            self.close_connection = True

    def trickle(self, answer):
        """The answer, status line first, one byte a second, for 40 s at most
        (a little beyond the client's 30 s limit), then the connection closes."""
        self.close_connection = True
        try:
            for i in range(min(len(answer), 40)):
                self.wfile.write(answer[i:i + 1])
                self.wfile.flush()
                time.sleep(1.0)
        except (BrokenPipeError, ConnectionResetError, OSError):
            pass

    def do_GET(self):
        if self.path == "/requests":
            return self.send(200, str(Handler.requests).encode("ascii"), "text/plain")
        self.count()
        if self.mode in ("redirect",):
            return self.redirect(302)
        if self.mode == "bomb":
            return self.send(200, bomb())
        if self.mode == "quadratic":
            return self.send(200, quadratic())
        if self.mode == "xxe":
            return self.send(200, b'<?xml version="1.0"?><!DOCTYPE definitions [<!ENTITY f SYSTEM "file:///C:/windows/win.ini">'
                             b'<!ENTITY h SYSTEM "http://127.0.0.1:%d/xxe">]>' % self.port + DEFINITIONS +
                             b"<documentation>&f;&h;</documentation></definitions>")
        if self.mode == "nested":
            return self.send(200, nested())
        if self.mode == "huge":
            return self.stream(50 << 20, b"<documentation>" + b"x" * 65520 + b"</documentation>", length=False)
        if self.mode == "trickle" and self.path.startswith(WSDL_PATH):
            return self.trickle(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n"
                                % len(self.wsdl()) + self.wsdl())
        if self.mode == "garbage":
            return self.send(200, b"\x00\x01 this is not XML <<<", "application/octet-stream")
        if self.mode == "entity":
            return self.send(200, b'<?xml version="1.0"?><!DOCTYPE d [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;">]>'
                             b'<definitions xmlns="http://schemas.xmlsoap.org/wsdl/">&b;</definitions>')
        if self.path == "/received":
            return self.send(200, Handler.received, "application/octet-stream")
        if self.path.startswith(WSDL_PATH):
            return self.send(200, self.wsdl())
        self.send(404, b"not found", "text/plain")

    def do_POST(self):
        self.count()
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(min(length, 16 << 20))
        Handler.received = b"SOAPAction: " + self.headers.get("SOAPAction", "").encode("latin-1") + b"\n" + body
        if self.mode == "redirect" or self.mode == "redirectcall":
            return self.redirect(307)
        if self.mode == "closemid":
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(RPC_ANSWER) * 4))
            self.end_headers()
            self.wfile.write(RPC_ANSWER[: len(RPC_ANSWER) // 2])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if self.mode == "garbage10":
            noise = random.Random(7).randbytes(1 << 20)
            return self.stream(10 << 20, noise)
        if self.mode == "garbage":
            return self.send(200, b"garbage, not an envelope", "text/plain")
        if self.mode == "fault500":
            return self.send(500, FAULT)
        return self.send(200, RPC_ANSWER)


def silent(server_socket, deadline):
    held = []
    server_socket.settimeout(0.25)
    while time.monotonic() < deadline:
        try:
            conn, _ = server_socket.accept()
            held.append(conn)  # never read, never answered
        except socket.timeout:
            pass
    for c in held:
        c.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", required=True, choices=MODES)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--max-seconds", type=float, default=600)
    args = p.parse_args()
    deadline = time.monotonic() + args.max_seconds
    if args.mode == "silent":
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", args.port))
        s.listen(16)
        print("READY %d" % s.getsockname()[1], flush=True)
        silent(s, deadline)
        return
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    Handler.mode = args.mode
    Handler.port = server.server_address[1]
    server.timeout = 0.25
    print("READY %d" % Handler.port, flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    while time.monotonic() < deadline:
        time.sleep(0.25)
    server.shutdown()


if __name__ == "__main__":
    main()

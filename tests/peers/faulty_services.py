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
Prints "READY <port>" once it listens.
"""
import argparse
import http.server
import os
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


class Handler(http.server.BaseHTTPRequestHandler):
    mode = None
    port = 0
    received = b""

    def log_message(self, format, *args):
        pass

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
        return (text[:start] + "http://127.0.0.1:%d/%s" % (self.port, path) + text[end:]).encode("utf-8")

    def do_GET(self):
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
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(min(length, 16 << 20))
        Handler.received = b"SOAPAction: " + self.headers.get("SOAPAction", "").encode("latin-1") + b"\n" + body
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
    p.add_argument("--mode", required=True, choices=["silent", "fault500", "garbage", "entity", "rpc"])
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

#!/usr/bin/python3
"""The reference inventory service: one SOAP operation, setSaveSoftwareInformation,
that stores each record it receives in an SQLite database.

    inventory_service.py --port 8080 --db records.sqlite [--max-seconds 600] [--quiet]
    inventory_service.py --print-wsdl --port 8080
    inventory_service.py --dump --db records.sqlite

It listens on 127.0.0.1 only and stops by itself after --max-seconds, so a test
that forgets it leaves nothing running. With --port 0 it picks a free port.
Once it accepts connections it prints "READY <port>" on stdout.
"""

import argparse
import datetime
import logging
import sqlite3
import sys
import time
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer, make_server
from wsgiref.util import setup_testing_defaults

from spyne import Application, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

NAMESPACE = "urn:tallowin:inventory"
SERVICE_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"
FIELDS = ("UserName", "AdapterAddress", "ProgramsText", "NetworkText", "ProcessorText")

SCHEMA = """
CREATE TABLE IF NOT EXISTS records (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    received TEXT NOT NULL,
    user_name TEXT NOT NULL,
    adapter_address TEXT NOT NULL,
    programs_text TEXT NOT NULL,
    network_text TEXT NOT NULL,
    processor_text TEXT NOT NULL
)
"""


def open_db(path):
    db = sqlite3.connect(path)
    db.execute(SCHEMA)
    db.commit()
    return db


class InventoryService(ServiceBase):
    db_path = None

    @rpc(Unicode, Unicode, Unicode, Unicode, Unicode, _returns=Unicode)
    def setSaveSoftwareInformation(ctx, UserName, AdapterAddress, ProgramsText,
                                   NetworkText, ProcessorText):
        texts = [t if t is not None else "" for t in
                 (UserName, AdapterAddress, ProgramsText, NetworkText, ProcessorText)]
        received = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
        db = open_db(InventoryService.db_path)
        try:
            db.execute(
                "INSERT INTO records (received, user_name, adapter_address, programs_text,"
                " network_text, processor_text) VALUES (?, ?, ?, ?, ?, ?)",
                [received] + texts)
            db.commit()
        finally:
            db.close()
        return "OK"


def make_application():
    return Application([InventoryService], tns=NAMESPACE, name="SaveSoftware",
                       in_protocol=Soap11(validator=None), out_protocol=Soap11())


def wsdl_text(port):
    """The WSDL exactly as the running service serves it on that port."""
    environ = {}
    setup_testing_defaults(environ)
    environ.update(REQUEST_METHOD="GET", PATH_INFO=SERVICE_PATH, QUERY_STRING="WSDL")
    app = service_app(WsgiApplication(make_application()), port)
    return b"".join(app(environ, lambda status, headers: None)).decode("utf-8")


def service_app(wsgi_app, port):
    """Only the service path is served; the WSDL's location always names
    127.0.0.1 and the listening port, whatever Host the client sent."""
    def app(environ, start_response):
        if environ.get("PATH_INFO") == "/records/last":
            return last_record(start_response)
        if environ.get("PATH_INFO") != SERVICE_PATH:
            start_response("404 Not Found", [("Content-Type", "text/plain")])
            return [b"not found\n"]
        environ["HTTP_HOST"] = "127.0.0.1:%d" % port
        return wsgi_app(environ, start_response)
    return app


def last_record(start_response):
    """For the tests on the Windows side: the number of stored records, then
    the five texts of the last one, each as hexadecimal UTF-8 on a line."""
    db = open_db(InventoryService.db_path)
    try:
        count = db.execute("SELECT COUNT(*) FROM records").fetchone()[0]
        row = db.execute(
            "SELECT user_name, adapter_address, programs_text, network_text, processor_text"
            " FROM records ORDER BY id DESC LIMIT 1").fetchone()
    finally:
        db.close()
    lines = [str(count)] + [t.encode("utf-8").hex() for t in (row or ())]
    start_response("200 OK", [("Content-Type", "text/plain")])
    return [("\n".join(lines) + "\n").encode("ascii")]


class LoggingHandler(WSGIRequestHandler):
    quiet = False

    def log_message(self, format, *args):
        if not LoggingHandler.quiet:
            sys.stderr.write("inventory_service: " + (format % args) + "\n")


def serve(args):
    InventoryService.db_path = args.db
    LoggingHandler.quiet = args.quiet
    open_db(args.db).close()
    wsgi = WsgiApplication(make_application())
    server = make_server("127.0.0.1", args.port, lambda e, s: None,
                         server_class=WSGIServer, handler_class=LoggingHandler)
    port = server.server_address[1]
    server.set_app(service_app(wsgi, port))
    server.timeout = 0.25
    print("READY %d" % port, flush=True)
    deadline = time.monotonic() + args.max_seconds
    try:
        while time.monotonic() < deadline:
            server.handle_request()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


def dump(args):
    db = open_db(args.db)
    rows = db.execute(
        "SELECT id, received, user_name, adapter_address, programs_text, network_text,"
        " processor_text FROM records ORDER BY id").fetchall()
    db.close()
    for row in rows:
        print("Record %d, received %s" % (row[0], row[1]))
        print("  UserName: %s" % row[2])
        print("  AdapterAddress: %s" % row[3])
        for label, text in zip(FIELDS[2:], row[4:]):
            print("  %s:" % label)
            for line in text.split("$#$"):
                if line:
                    print("    " + line)
        print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=8080)
    parser.add_argument("--db", default="inventory.sqlite")
    parser.add_argument("--max-seconds", type=float, default=600)
    parser.add_argument("--quiet", action="store_true", help="do not log requests on stderr")
    parser.add_argument("--dump", action="store_true", help="print the stored records and exit")
    parser.add_argument("--print-wsdl", action="store_true", help="print the WSDL and exit")
    args = parser.parse_args()
    logging.basicConfig(level=logging.WARNING)
    if args.dump:
        dump(args)
    elif args.print_wsdl:
        sys.stdout.write(wsdl_text(args.port))
    else:
        serve(args)


if __name__ == "__main__":
    main()

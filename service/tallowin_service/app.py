"""The WSGI application: the SOAP endpoint, the API and (later) the pages on
one Flask app, behind a guard that refuses bodies above the limit.

    create_app({"DATABASE_URL": "sqlite:///inventory.sqlite"})

Configuration (one place): DATABASE_URL, MAX_BODY_BYTES (default 16 MB),
PROXY_HOPS (how many proxies in front set X-Forwarded-For/-Proto; 0: none),
SECRET_KEY (for the pages' sessions; without it one is made once and kept in the
database), SILENT_DAYS (the fleet page's silent PCs, default 30), and any Flask setting.
"""

import io
import logging

from flask import Flask, jsonify
from werkzeug.middleware.proxy_fix import ProxyFix

from . import pages, soap, store
from .api import api

DEFAULTS = {
    "DATABASE_URL": "sqlite:///tallowin-inventory.sqlite",
    "MAX_BODY_BYTES": 16 * 1024 * 1024,
    "PROXY_HOPS": 0,
    "UPGRADE_SCHEMA": True,
}

log = logging.getLogger(__name__)


class Service:
    """What the views need, kept in app.extensions["tallowin"]."""

    def __init__(self, engine, config):
        self.engine = engine
        self.config = config


def _plain(start_response, status, text, extra=()):
    body = (text + "\n").encode("utf-8")
    start_response(status, [("Content-Type", "text/plain; charset=utf-8"),
                            ("Content-Length", str(len(body)))] + list(extra))
    return [body]


class Front:
    """Routes the SOAP path to spyne and the rest to Flask. A body whose
    declared length is above the limit is refused before any of it is read;
    one without a declared length (chunked) is read up to the limit and
    refused when it goes beyond."""

    def __init__(self, flask_wsgi, soap_wsgi, wsdl, max_body):
        self.flask_wsgi = flask_wsgi
        self.soap_wsgi = soap_wsgi
        self.wsdl = wsdl
        self.max_body = max_body

    def __call__(self, environ, start_response):
        length = environ.get("CONTENT_LENGTH") or ""
        try:
            declared = int(length) if length else None
        except ValueError:
            return _plain(start_response, "400 Bad Request", "bad Content-Length")
        if declared is not None and declared > self.max_body:
            return self._too_large(environ, start_response)
        if environ.get("PATH_INFO") != soap.SERVICE_PATH:
            return self.flask_wsgi(environ, start_response)
        method = environ.get("REQUEST_METHOD")
        if method in ("GET", "HEAD") and environ.get("QUERY_STRING", "").lower() == "wsdl":
            body = self.wsdl.for_request(environ)
            start_response("200 OK", [("Content-Type", "text/xml; charset=utf-8"),
                                      ("Content-Length", str(len(body)))])
            return [body] if method == "GET" else []
        if method != "POST":
            return _plain(start_response, "405 Method Not Allowed",
                          "POST a SOAP request here, or GET ?WSDL", [("Allow", "GET, POST")])
        body = environ["wsgi.input"].read(self.max_body + 1 if declared is None else declared)
        if len(body) > self.max_body:
            return self._too_large(environ, start_response)
        problem = soap.envelope_problem(body)
        if problem:
            return self._fault(environ, start_response, "Client", problem)
        environ["wsgi.input"] = io.BytesIO(body)
        environ["CONTENT_LENGTH"] = str(len(body))
        answer = {}

        def keep(status, headers, exc_info=None):
            answer["status"], answer["headers"] = status, headers
        try:
            chunks = b"".join(self.soap_wsgi(environ, keep))
        except Exception as error:  # spyne lets a few odd envelopes through as exceptions
            log.exception("SOAP request from %s", environ.get("REMOTE_ADDR", "?"))
            return self._fault(environ, start_response, "Client",
                               "the envelope could not be read: %s" % (error or type(error).__name__))
        start_response(answer["status"], answer["headers"])
        return [chunks]

    def _fault(self, environ, start_response, code, reason):
        log.warning("SOAP request from %s refused: %s", environ.get("REMOTE_ADDR", "?"), reason)
        body = soap.fault_envelope(code, reason)
        start_response("500 Internal Server Error", [("Content-Type", "text/xml; charset=utf-8"),
                                                     ("Content-Length", str(len(body)))])
        return [body]

    def _too_large(self, environ, start_response):
        log.warning("%s %s from %s refused: body above %d bytes", environ.get("REQUEST_METHOD"),
                    environ.get("PATH_INFO"), environ.get("REMOTE_ADDR", "?"), self.max_body)
        # The rest of the body stays unread: the connection must not be reused.
        return _plain(start_response, "413 Request Entity Too Large",
                      "request body above %d bytes" % self.max_body, [("Connection", "close")])


def create_app(config=None):
    """The application for CONFIG (a dict, over DEFAULTS). Opens the database
    and brings its schema up to date unless UPGRADE_SCHEMA is false."""
    settings = dict(DEFAULTS)
    settings.update(config or {})
    app = Flask(__name__)
    app.config.update(settings)
    app.config["MAX_CONTENT_LENGTH"] = settings["MAX_BODY_BYTES"]
    app.json.sort_keys = False
    engine = store.create_engine(settings["DATABASE_URL"])
    if settings["UPGRADE_SCHEMA"]:
        store.upgrade(engine)
    app.extensions["tallowin"] = Service(engine, settings)
    app.register_blueprint(api)
    pages.init_app(app)

    @app.get("/health")
    def health():
        return jsonify(status="ok")

    soap_wsgi = soap.make_soap_app(engine, settings["MAX_BODY_BYTES"])
    front = Front(app.wsgi_app, soap_wsgi, soap.Wsdl(soap_wsgi), settings["MAX_BODY_BYTES"])
    hops = int(settings["PROXY_HOPS"])
    app.wsgi_app = ProxyFix(front, x_for=hops, x_proto=hops, x_host=hops) if hops else front
    return app

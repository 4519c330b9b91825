"""The WSGI application: the SOAP endpoint, the API and (later) the pages on
one Flask app, behind a guard that refuses bodies above the limit.

    create_app({"DATABASE_URL": "sqlite:///inventory.sqlite"})

Its settings (config.SETTINGS) come from the config argument, else from the
environment (TALLOWIN_<NAME>), else their defaults; any Flask setting besides.
"""

import io
import logging
import sys
import threading
import urllib.parse
from typing import Any, Mapping, Optional

from flask import Flask, jsonify
from werkzeug.middleware.proxy_fix import ProxyFix
from werkzeug.routing import PathConverter

from . import accounts, db, enrollment, migrate, page_helpers, pages, soap, web_auth
from .api import api
from .config import read_settings

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
    refused when it goes beyond. With more than max_records records in
    progress, another is answered 503 at once instead of waiting in line
    for a thread (the control tries again later)."""

    def __init__(self, flask_wsgi, soap_wsgi, wsdl, max_body, max_records=0, retry_after=60, engine=None,
                 page_error=None):
        self.engine = engine  # for the enrollment secrets (None: records from anyone)
        self.flask_wsgi = flask_wsgi
        self.page_error = page_error
        self.soap_wsgi = soap_wsgi
        self.wsdl = wsdl
        self.max_body = max_body
        self.max_records = max_records
        self.retry_after = retry_after
        self.in_progress = 0
        self.lock = threading.Lock()

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
        with self.lock:
            busy = self.max_records and self.in_progress >= self.max_records
            if not busy:
                self.in_progress += 1
        if busy:
            # Its body stays unread: the connection is not to be reused. Not a
            # warning: under a burst there are thousands.
            return self._fault(environ, start_response, "Server", "the service is busy; try again later",
                               "503 Service Unavailable",
                               [("Retry-After", str(self.retry_after)), ("Connection", "close")], logging.INFO)
        try:
            refused = self._enrollment(environ, start_response)
            return refused if refused is not None else self._record(environ, start_response, declared)
        finally:
            with self.lock:
                self.in_progress -= 1

    def _record(self, environ, start_response, declared):
        body = environ["wsgi.input"].read(self.max_body + 1 if declared is None else declared)
        if len(body) > self.max_body:
            return self._too_large(environ, start_response)
        problem, call = soap.read_envelope(body)
        if problem:
            return self._fault(environ, start_response, *problem)
        profile = soap.profile_parameters(call)
        saved = profile and soap.save_profile(self.soap_wsgi.app.tallowin_engine, environ, profile)
        if saved:
            start_response("200 OK", [("Content-Type", "text/xml; charset=utf-8"),
                                      ("Content-Length", str(len(saved)))])
            return [saved]
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

    def _enrollment(self, environ, start_response):
        """None when the record may come in (its secret's name, if any, in
        environ["tallowin.secret"]), else the fault that refuses it. The
        body stays unread: the connection is not to be reused."""
        if self.engine is None:
            return None
        verdict = enrollment.check(self.engine, environ.get("HTTP_AUTHORIZATION"), environ.get("REMOTE_ADDR"))
        if verdict.status == 0:
            environ["tallowin.secret"] = verdict.name
            return None
        close = [("Connection", "close")]
        if verdict.status == 401:
            return self._fault(environ, start_response, "Client", "the service wants an enrollment secret",
                               "401 Unauthorized", [("WWW-Authenticate", 'Bearer realm="Tallowin inventory"')] + close)
        if verdict.status == 403:
            return self._fault(environ, start_response, "Client", "the enrollment secret is not accepted",
                               "403 Forbidden", close)
        return self._fault(environ, start_response, "Client",
                           "too many wrong enrollment secrets from this address; try again in %d seconds"
                           % verdict.wait, "429 Too Many Requests", [("Retry-After", str(verdict.wait))] + close)

    def _fault(self, environ, start_response, code, reason, status="500 Internal Server Error", extra=(),
               level=logging.WARNING):
        log.log(level, "SOAP request from %s refused: %s", environ.get("REMOTE_ADDR", "?"), reason)
        body = soap.fault_envelope(code, reason)
        start_response(status, [("Content-Type", "text/xml; charset=utf-8"),
                                ("Content-Length", str(len(body)))] + list(extra))
        return [body]

    def _too_large(self, environ, start_response):
        log.warning("%s %s from %s refused: body above %d bytes", environ.get("REQUEST_METHOD"),
                    environ.get("PATH_INFO"), environ.get("REMOTE_ADDR", "?"), self.max_body)
        # The rest of the body stays unread: the connection must not be reused.
        path = environ.get("PATH_INFO", "")
        if self.page_error and path != soap.SERVICE_PATH and not path.startswith("/api/"):
            body = self.page_error(environ, 413)
            start_response("413 Request Entity Too Large", [
                ("Content-Type", "text/html; charset=utf-8"), ("Content-Length", str(len(body))),
                ("Connection", "close")])
            return [body]
        return _plain(start_response, "413 Request Entity Too Large",
                      "request body above %d bytes" % self.max_body, [("Connection", "close")])


class KeyConverter(PathConverter):
    """A PC's key in a path (it may hold "/"): in links "/" is written %2F, so
    that a key with "." or ".." segments stays one segment the browser does
    not rewrite; the server hands it back decoded."""

    def to_url(self, value):
        return urllib.parse.quote(value, safe=":")


class SecurityHeaders:
    """The outermost layer: every answer carries the security headers (the
    SOAP endpoint's, the 413 and the pages' alike), and an exception is
    answered here rather than by the server's own page."""

    def __init__(self, wsgi):
        self.wsgi = wsgi

    def __call__(self, environ, start_response):
        def start(status, headers, exc_info=None):
            return start_response(status, web_auth.with_security_headers(headers), exc_info)
        try:
            return self.wsgi(environ, start)
        except Exception:
            log.exception("%s %s from %s failed", environ.get("REQUEST_METHOD"), environ.get("PATH_INFO"),
                          environ.get("REMOTE_ADDR", "?"))
            return _plain(lambda status, headers: start(status, headers, sys.exc_info()),
                          "500 Internal Server Error", "the service failed; its log says why")


def create_app(config: Optional[Mapping[str, Any]] = None) -> Flask:
    """The application for CONFIG (a dict, over the environment's settings
    and the defaults). Opens the database and brings its schema up to date
    unless UPGRADE_SCHEMA is false."""
    settings = read_settings(config)
    app = Flask(__name__)
    app.config.update(settings)
    app.config["MAX_CONTENT_LENGTH"] = settings["MAX_BODY_BYTES"]
    app.json.sort_keys = False  # type: ignore[attr-defined]
    engine = db.create_engine(settings["DATABASE_URL"])
    if settings["UPGRADE_SCHEMA"]:
        migrate.upgrade(engine)
    app.extensions["tallowin"] = Service(engine, settings)
    # The session's key is SECRET_KEY when configured, else one made once and
    # kept in the database, so that every worker and host signs alike.
    web_auth.configure_sessions(app, settings.get("SECRET_KEY") or accounts.setting(
        engine, "session_key", web_auth.new_secret))
    app.before_request(web_auth.check_parameters)
    app.url_map.converters["key"] = KeyConverter
    app.register_blueprint(api)
    pages.init_app(app)

    @app.get("/health")
    def health():
        return jsonify(status="ok")

    soap_wsgi = soap.make_soap_app(engine, settings["MAX_BODY_BYTES"])
    front = Front(app.wsgi_app, soap_wsgi, soap.Wsdl(soap_wsgi), settings["MAX_BODY_BYTES"],
                  int(settings["MAX_RECORDS_IN_PROGRESS"]), int(settings["RETRY_AFTER"]), engine,
                  page_helpers.error_page_wsgi(app))
    hops = int(settings["PROXY_HOPS"])
    app.wsgi_app = SecurityHeaders(  # type: ignore[assignment]
        ProxyFix(front, x_for=hops, x_proto=hops, x_host=hops) if hops else front)
    return app

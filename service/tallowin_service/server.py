"""Running the application in gunicorn: several worker processes, each with
threads (gthread: a browser's idle keep-alive connection then holds a thread,
not a whole worker). The application is loaded once in the master, so a bad
database URL or a failed upgrade stops the start before READY."""

import argparse
import gc
import os
import signal
import sys
import threading

from gunicorn import util
from gunicorn.app.base import BaseApplication

from . import migrate, web_auth
from .app import create_app


def _write_error(sock, status_int, reason, mesg):
    """gunicorn's own error answer (a request it could not read or an
    application that failed), with the security headers every answer has."""
    text = "%s\n" % reason
    headers = web_auth.with_security_headers([("Content-Type", "text/plain; charset=utf-8")])
    head = "HTTP/1.1 %d %s\r\nConnection: close\r\nContent-Length: %d\r\n%s\r\n" % (
        status_int, reason, len(text), "".join("%s: %s\r\n" % h for h in headers))
    util.write_nonblock(sock, (head + text).encode("latin-1", "replace"))


util.write_error = _write_error


class Server(BaseApplication):
    def __init__(self, application, options):
        self.application = application
        self.options = options
        super().__init__()

    def load_config(self):
        for key, value in self.options.items():
            self.cfg.set(key, value)

    def load(self):
        return self.application


def _when_ready(max_seconds):
    def when_ready(arbiter):
        port = arbiter.LISTENERS[0].sock.getsockname()[1]
        # The listening socket exists: connections wait in its backlog
        # until a worker takes them.
        print("READY %d" % port, flush=True)
        if max_seconds:
            timer = threading.Timer(max_seconds, os.kill, (os.getpid(), signal.SIGTERM))
            timer.daemon = True
            timer.start()
    return when_ready


def _post_fork(application):
    engine = application.extensions["tallowin"].engine
    moving = application.config["UPGRADE_SCHEMA"] and migrate.texts_to_move(engine)

    def post_fork(arbiter, worker):
        # Connections opened in the master belong to it; the worker opens its own.
        engine.dispose(close=False)
        if moving:  # the upgrade's move of the texts, in one worker at a time (its lease)
            migrate.keep_moving(engine)
    return post_fork


def run(database_url: str, args: argparse.Namespace) -> int:
    threads = max(1, args.threads)
    # The options given win over the environment's settings (create_app reads those).
    given = {"MAX_BODY_BYTES": args.max_body, "PROXY_HOPS": args.proxy_hops,
             "MAX_RECORDS_IN_PROGRESS": args.max_records, "RETRY_AFTER": args.retry_after}
    application = create_app(dict({k: v for k, v in given.items() if v is not None}, DATABASE_URL=database_url))
    post_fork = _post_fork(application)
    application.extensions["tallowin"].engine.dispose()
    # What the master loaded stays for the workers' whole life: out of the
    # collector's way (and not copied by its visits after the fork).
    gc.collect()
    gc.freeze()
    host, port = args.listen
    bind = "[%s]:%d" % (host, port) if ":" in host else "%s:%d" % (host, port)
    options = {
        "bind": [bind],
        "workers": max(1, args.workers),
        "worker_class": "gthread",
        "threads": threads,
        "timeout": 60,
        "graceful_timeout": 10,
        "keepalive": 5,
        "preload_app": True,
        "loglevel": "warning" if args.quiet else "info",
        "errorlog": "-",
        "accesslog": "-" if args.access_log else None,
        "when_ready": _when_ready(args.max_seconds),
        "post_fork": post_fork,
        "proc_name": "tallowin-service",
    }
    if args.certfile:
        options.update(certfile=args.certfile, keyfile=args.keyfile)
    sys.argv = sys.argv[:1]  # gunicorn must not read our options as its own
    Server(application, options).run()
    return 0

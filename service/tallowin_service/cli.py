"""The command: serve, add-admin, the enrollment secrets, dump, prune.

    tallowin-service serve [--db URL] [--listen HOST:PORT] [--no-front] [--workers N] [--threads N]
                           [--max-records N] [--retry-after S] [--max-body BYTES]
                           [--proxy-hops N] [--certfile PEM --keyfile PEM] [--max-seconds S] [--quiet]
    tallowin-service add-admin NAME [--db URL]     (the password is read from stdin)
    tallowin-service add-secret NAME [--db URL]    (from stdin; none given: one is made and printed)
    tallowin-service list-secrets [--db URL]
    tallowin-service remove-secret NAME [--db URL]
    tallowin-service dump [--db URL]
    tallowin-service prune --older-than DAYS [--db URL]

The database is --db, else $TALLOWIN_DB, else sqlite:///tallowin-inventory.sqlite
(a file in the current directory); PostgreSQL with postgresql://USER@HOST/NAME.
"""

import argparse
import getpass
import ipaddress
import logging
import os
import sys
from typing import Any, Dict, Optional, Sequence, Tuple

from . import auth, config, db, enrollment, ingest, migrate, profile, queries, texts

def database_url(args: argparse.Namespace) -> str:
    return db.database_url(args.db or os.environ.get("TALLOWIN_DB"))


def parse_listen(text: str) -> Tuple[str, int]:
    """HOST:PORT, [IPV6]:PORT or PORT -> (host, port)."""
    if text.isdigit():
        return "127.0.0.1", int(text)
    host, sep, port = text.rpartition(":")
    if not sep or not port.isdigit() or not host:
        raise argparse.ArgumentTypeError("expected HOST:PORT, got %r" % text)
    if host.startswith("[") and host.endswith("]"):
        host = host[1:-1]
    if int(port) > 65535:
        raise argparse.ArgumentTypeError("port out of range: %s" % port)
    return host, int(port)


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


FRONT_NEEDED = """serve needs a front server (nginx, packaging/service/tallowin-nginx.conf) to face the
network: it reads each request in a thread of its own, so a few dozen clients that send slowly or not
at all can take every thread. Listen on loopback behind the front, or give --no-front to listen on
%s anyway."""


def serve(args: argparse.Namespace) -> int:
    if bool(args.certfile) != bool(args.keyfile):
        print("tallowin-service: --certfile and --keyfile go together", file=sys.stderr)
        return 2
    for path in (args.certfile, args.keyfile):
        if path and not os.access(path, os.R_OK):
            print("tallowin-service: cannot read %s" % path, file=sys.stderr)
            return 2
    if not is_loopback(args.listen[0]) and not args.no_front:
        print(FRONT_NEEDED % args.listen[0], file=sys.stderr)
        return 2
    try:
        config.read_settings()  # a setting from the environment that does not parse stops here
    except ValueError as error:
        print("tallowin-service: %s" % error, file=sys.stderr)
        return 2
    from . import server
    return server.run(database_url(args), args)


def add_admin(args: argparse.Namespace) -> int:
    if sys.stdin.isatty():
        password = getpass.getpass("password for %s: " % args.name)
        if getpass.getpass("again: ") != password:
            print("the two passwords differ", file=sys.stderr)
            return 1
    else:
        password = sys.stdin.readline().rstrip("\r\n")
    engine = db.create_engine(database_url(args))
    migrate.upgrade(engine)
    try:
        created = auth.set_admin(engine, args.name, password)
    except auth.AdminError as error:
        print(error, file=sys.stderr)
        return 1
    print("administrator %s %s" % (args.name, "created" if created else "given a new password"))
    return 0


def _secrets_engine(args: argparse.Namespace):
    engine = db.create_engine(database_url(args))
    migrate.upgrade(engine)
    return engine


def add_secret(args: argparse.Namespace) -> int:
    given = "" if sys.stdin.isatty() else sys.stdin.readline().strip()
    try:
        secret = enrollment.add_secret(_secrets_engine(args), args.name, given or None)
    except enrollment.SecretError as error:
        print(error, file=sys.stderr)
        return 1
    if given:
        print("enrollment secret %s added" % args.name)
    else:
        # Shown this once: only its hash is kept.
        print("enrollment secret %s added; give the PCs this secret (it is not shown again):\n%s"
              % (args.name, secret))
    return 0


def list_secrets(args: argparse.Namespace) -> int:
    rows = enrollment.list_secrets(_secrets_engine(args))
    if not rows:
        print("no enrollment secrets: the SOAP endpoint takes records from anyone")
    for name, created in rows:
        print("%s\tadded %s" % (name, created))
    return 0


def remove_secret(args: argparse.Namespace) -> int:
    if not enrollment.remove_secret(_secrets_engine(args), args.name):
        print("no enrollment secret named %s" % args.name, file=sys.stderr)
        return 1
    print("enrollment secret %s removed" % args.name)
    return 0


def dump(args: argparse.Namespace) -> int:
    engine = db.create_engine(database_url(args))
    migrate.upgrade(engine)
    out = sys.stdout
    with engine.connect() as conn:
        for r in queries.all_records(conn):
            out.write("Record %d, received %s from %s, machine %s\n"
                      % (r["id"], r["received"], r["sender"] or "?", r["machine"]))
            fields: Dict[str, Any] = dict(r)
            for label, key in zip(ingest.FIELDS, ingest.Record._fields):
                if not key.endswith("_text"):
                    out.write("  %s: %s\n" % (label, fields[key]))
                    continue
                out.write("  %s:\n" % label)
                for line in texts.lines(fields[key]):
                    out.write("    " + line + "\n")
            if r["profile_text"] is not None:
                out.write("  ProfileText: %d lines\n" % len(profile.lines(r["profile_text"])))
            out.write("\n")
    return 0


def days(text: str) -> float:
    value = float(text)
    if not 0 <= value <= 36500:  # nan too
        raise argparse.ArgumentTypeError("expected a number of days from 0 to 36500, got %r" % text)
    return value


def prune(args: argparse.Namespace) -> int:
    from . import prune as pruning
    engine = db.create_engine(database_url(args))
    migrate.upgrade(engine)
    counts: Dict[str, int] = {}
    try:
        pruning.prune(engine, args.older_than, progress=counts.update)
        stopped = ""
    except KeyboardInterrupt:
        stopped = "stopped; run it again to go on. So far: "
    print("%sremoved %d records of %d PCs received more than %g days ago, and %d texts no record refers to;"
          " kept %d records that old (each PC's first and latest, and those that showed a change)"
          % (stopped, counts.get("records", 0), counts.get("machines", 0), args.older_than,
             counts.get("texts", 0), counts.get("kept", 0)))
    return 130 if stopped else 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="tallowin-service", description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("serve", help="run the service (SOAP endpoint, API and pages)",
                       formatter_class=argparse.RawDescriptionHelpFormatter, epilog=config.help_text(),
                       description="Runs the service in gunicorn. It is meant to listen on loopback "
                       "behind a front server (nginx) that faces the network, holds slow clients "
                       "and does TLS (or does TLS itself with --certfile and --keyfile); it refuses "
                       "any other address without --no-front.")
    p.add_argument("--db", help="database URL (sqlite:///PATH or postgresql://...)")
    p.add_argument("--listen", type=parse_listen, default=("127.0.0.1", 8080),
                   help="HOST:PORT to listen on (default 127.0.0.1:8080; port 0 picks one)")
    p.add_argument("--no-front", action="store_true",
                   help="listen on a non-loopback address without a front server (slow or idle "
                   "clients can then take every thread)")
    p.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    p.add_argument("--threads", type=int, default=8, help="threads per worker (default 8)")
    p.add_argument("--max-records", type=int,
                   help="records a worker process takes at once; more are answered 503 with "
                   "Retry-After at once instead of waiting in line (below --threads, so that the "
                   "pages keep threads; default $TALLOWIN_MAX_RECORDS_IN_PROGRESS, else 0: no limit)")
    p.add_argument("--retry-after", type=int,
                   help="seconds the 503 asks a client to wait (default $TALLOWIN_RETRY_AFTER, else 60)")
    p.add_argument("--max-body", type=int,
                   help="largest request body in bytes (default $TALLOWIN_MAX_BODY_BYTES, else 16 MB)")
    p.add_argument("--proxy-hops", type=int,
                   help="proxies in front that set X-Forwarded-For and -Proto (default "
                   "$TALLOWIN_PROXY_HOPS, else 0)")
    p.add_argument("--certfile", help="serve TLS with this certificate (PEM, the chain after it); "
                   "with --keyfile")
    p.add_argument("--keyfile", help="the certificate's private key (PEM)")
    p.add_argument("--max-seconds", type=float, default=None,
                   help="stop by itself after this many seconds (tests)")
    p.add_argument("--quiet", action="store_true", help="log warnings and errors only")
    p.add_argument("--access-log", action="store_true", help="log every request on stderr")
    p.set_defaults(run=serve)

    # The commands on the database alone: (name, what it runs, whether it takes a NAME, help).
    for command, run, named, text in (
            ("add-admin", add_admin, True, "create an administrator or set a new password"),
            ("add-secret", add_secret, True, "add an enrollment secret (from stdin, or made and printed once)"),
            ("list-secrets", list_secrets, False, "list the enrollment secrets by name"),
            ("remove-secret", remove_secret, True, "remove an enrollment secret"),
            ("dump", dump, False, "print every stored record")):
        p = sub.add_parser(command, help=text)
        if named:
            p.add_argument("name")
        p.add_argument("--db", help="database URL")
        p.set_defaults(run=run)

    p = sub.add_parser("prune", help="remove old records (each PC's first and latest and every change stay)")
    p.add_argument("--older-than", type=days, required=True, metavar="DAYS",
                   help="remove records received more than DAYS days ago")
    p.add_argument("--db", help="database URL")
    p.set_defaults(run=prune)

    args = parser.parse_args(argv)
    logging.basicConfig(level=logging.WARNING if getattr(args, "quiet", False) else logging.INFO,
                        format="%(asctime)s %(process)d %(name)s: %(message)s")
    return args.run(args)

"""Administrators: names with password hashes (werkzeug.security), and HTTP
basic authentication for the JSON API. The SOAP endpoint needs none: the
control has no credentials."""

import datetime
import functools
import hashlib
import hmac
import os
import secrets
import threading
from typing import Callable, Dict, List, Optional, Sequence, Tuple

import sqlalchemy as sa
from flask import Response, current_app, g, request
from werkzeug.security import check_password_hash, generate_password_hash

from . import accounts, db
from .db import Engine
from .schema import administrators

_verified: Dict[Tuple[str, str], bytes] = {}  # (name, stored hash) -> keyed digest of a password that matched it
_verified_lock = threading.Lock()
_cache_key = os.urandom(32)


class AdminError(ValueError):
    pass


def set_admin(engine: Engine, name: str, password: str) -> bool:
    """Creates the administrator NAME, or gives an existing one this password.
    Returns True when it was created."""
    if not name or not name.strip() or ":" in name or not _usable_name(name) or not name.isprintable():
        raise AdminError("an administrator's name must be non-empty, printable and without ':'")
    if not password:
        raise AdminError("the password must not be empty")
    hashed = generate_password_hash(password)
    with db.writing(engine) as conn, conn.begin():
        exists = conn.execute(sa.select(administrators.c.id).where(administrators.c.name == name)).first()
        if exists:
            conn.execute(administrators.update().where(administrators.c.id == exists.id)
                         .values(password_hash=hashed))
            return False
        conn.execute(administrators.insert().values(name=name, password_hash=hashed,
                                                     created=db.utcnow()))
        return True


# Failed attempts (a sign-in on the pages, basic authentication on the API)
# are counted per (name, address), per address and per name, in the database
# so that every worker and host counts them. Past its free failures within
# FAILURE_WINDOW, a count makes the next attempt wait 2, 4, 8 ... seconds (at
# most MAX_WAIT) after the last failure; before that it is refused unheard.
# The name's count binds only an address that has itself failed for that name:
# a stranger's failures slow the guessing of a name down without keeping its
# owner, from an address of their own, out.
PAIR_FREE = 5
ADDRESS_FREE = 20
NAME_FREE = 50
FAILURE_WINDOW = datetime.timedelta(minutes=15)
MAX_WAIT = 300

# Checked against when the name is unknown, so that it costs the same time.
DUMMY_HASH = generate_password_hash(secrets.token_hex(16))


def wait_seconds(failures: int, last_failure: Optional[datetime.datetime], now: datetime.datetime,
                 free: int = PAIR_FREE) -> int:
    """Seconds before the next attempt is heard, from the failures so far."""
    if failures < free or last_failure is None or now - last_failure > FAILURE_WINDOW:
        return 0
    wait = min(2 ** (failures - free + 1), MAX_WAIT)
    left = wait - (now - last_failure).total_seconds()
    return max(0, int(left + 0.999))


def _subject(kind, text):
    # A digest: any name (NUL included) fits the column and the index.
    return kind + ":" + hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()


def attempt_subjects(name: str, address: Optional[str]) -> Tuple[str, str, str]:
    """The counts an attempt by NAME from ADDRESS goes against: (pair, address, name)."""
    folded = name.casefold()
    return (_subject("pair", "%s\n%s" % (folded, address or "")), _subject("address", address or ""),
            _subject("name", folded))


def _wait(counts: Sequence[Tuple[int, Optional[datetime.datetime]]], now: datetime.datetime) -> int:
    pair, address, name = counts
    waits = [wait_seconds(*pair, now, free=PAIR_FREE), wait_seconds(*address, now, free=ADDRESS_FREE)]
    if pair[0] and pair[1] is not None and now - pair[1] <= FAILURE_WINDOW:
        waits.append(wait_seconds(*name, now, free=NAME_FREE))
    return max(waits)


def _usable_name(name):
    return bool(name) and "\0" not in name and len(name) <= 1024


def authenticate(engine: Engine, name: Optional[str], password: Optional[str],
                 address: Optional[str]) -> Tuple[bool, int]:
    """(True, 0) when NAME and PASSWORD are an administrator's, (False, 0)
    when not, (False, seconds) when the attempt had to wait and was not
    heard. Checking the wait and counting the attempt as a failure are one
    transaction: of parallel attempts exactly as many are heard as the counts
    allow. A success takes its own failure back."""
    name, password = name or "", password or ""
    stored = None
    if _usable_name(name):
        with engine.connect() as conn:
            stored = accounts.admin_password_hash(conn, name)
    digest = hmac.new(_cache_key, password.encode("utf-8", "surrogatepass"), hashlib.sha256).digest()
    if stored is not None:
        with _verified_lock:
            known = _verified.get((name, stored))
        if known is not None and hmac.compare_digest(known, digest):
            return True, 0  # this password matched before: no guess, nothing to count
    subjects = attempt_subjects(name, address)
    wait = accounts.take_attempt(engine, subjects, _wait, FAILURE_WINDOW)
    if wait:
        return False, wait
    # An unknown name costs the same hash check as a known one: the time of
    # the answer does not tell which names exist.
    matches = check_password_hash(stored or DUMMY_HASH, password)
    if stored is None or not matches:
        return False, 0
    accounts.forgive_attempt(engine, subjects)
    with _verified_lock:
        if len(_verified) > 1000:
            _verified.clear()
        _verified[(name, stored)] = digest
    return True, 0


def check_admin(engine: Engine, name: str, password: str, address: str = "local") -> bool:
    """True when NAME is an administrator and PASSWORD is theirs (counted
    like any attempt). A match is remembered in this process (as a keyed
    digest) until the hash changes: the hash is slow on purpose, and the API
    asks on every request."""
    return authenticate(engine, name, password, address)[0]


def admin_names(engine: Engine) -> List[str]:
    """The administrators' names, sorted."""
    with engine.connect() as conn:
        return conn.execute(sa.select(administrators.c.name).order_by(administrators.c.name)).scalars().all()


def require_basic_auth(view: Callable) -> Callable:
    """For API views: HTTP basic authentication as an administrator, else 401
    with a WWW-Authenticate challenge (429 with Retry-After while failed
    attempts must wait, as on the sign-in page). Sets g.admin to the name."""
    @functools.wraps(view)
    def wrapped(*args, **kwargs):
        a = request.authorization
        engine = current_app.extensions["tallowin"].engine
        ok, wait = False, 0
        if a is not None and a.type == "basic":
            ok, wait = authenticate(engine, a.username, a.password, request.remote_addr)
        if wait:
            return Response('{"error": "too many failed attempts; try again in %d seconds"}\n' % wait, 429,
                            {"Retry-After": str(wait), "Content-Type": "application/json"})
        if not ok or a is None:
            return Response('{"error": "administrator credentials required"}\n', 401,
                            {"WWW-Authenticate": 'Basic realm="Tallowin inventory", charset="UTF-8"',
                             "Content-Type": "application/json"})
        g.admin = a.username
        return view(*args, **kwargs)
    return wrapped

"""Enrollment secrets: shared secrets the company's PCs send with their
records (Authorization: Bearer SECRET, over https only). They are kept as
hashes, and several may be valid at once, so that a new one can be rolled
out before the old one is removed. With none, the SOAP endpoint takes
records from anyone, as it always did.

A secret proves that the sender was given it, that is "a PC of this
company", not which PC: every PC holds the same one."""

import datetime
import hashlib
import hmac
import os
import secrets
import threading
import time
import weakref
from typing import Dict, List, NamedTuple, Optional, Tuple

import sqlalchemy as sa
from werkzeug.security import check_password_hash, generate_password_hash

from . import accounts, auth, db
from .db import Engine
from .schema import enrollment_secrets

MIN_LENGTH = 16
MAX_LENGTH = 1024
MAX_NAME = 100
# Wrong secrets an address may send before it is slowed down like a sign-in
# (auth.wait_seconds: 2, 4, 8 ... seconds after the last one, within
# auth.FAILURE_WINDOW). Per address only: failures elsewhere never keep a PC
# with a valid secret out.
FREE_FAILURES = 5

# The secrets as stored, read again once they are older than STORED_SECONDS:
# a query (and a connection) less for nearly every record. A secret added or
# removed elsewhere (the command line, another worker) counts here within
# that time; one added or removed through this process, at once.
STORED_SECONDS = 5.0
_stored: "weakref.WeakKeyDictionary[Engine, Tuple[float, List[Tuple[str, str]]]]" = weakref.WeakKeyDictionary()
_stored_lock = threading.Lock()
_changes = [0]  # secrets added or removed through this process: a read begun before one is not kept

_verified: Dict[Tuple[str, str], bytes] = {}  # (name, stored hash) -> keyed digest of the secret that matched it
_verified_lock = threading.Lock()
_cache_key = os.urandom(32)


class SecretError(ValueError):
    pass


class Verdict(NamedTuple):
    status: int                 # 0: take the record; else 401, 403 or 429
    name: Optional[str] = None  # the secret it came with (None: none)
    wait: int = 0               # with 429: seconds before the address is heard again


def new_secret() -> str:
    """A secret to hand out: 256 random bits, in characters a header carries."""
    return secrets.token_urlsafe(32)


def _check_secret(secret: str) -> None:
    if not MIN_LENGTH <= len(secret) <= MAX_LENGTH:
        raise SecretError("an enrollment secret has %d to %d characters (or leave it empty to have one made)"
                          % (MIN_LENGTH, MAX_LENGTH))
    if any(not "\x21" <= c <= "\x7e" for c in secret):
        raise SecretError("an enrollment secret holds ASCII letters, digits and punctuation only (no blanks)")


def add_secret(engine: Engine, name: str, secret: Optional[str] = None) -> str:
    """Adds the secret NAME (made when SECRET is empty) and returns it."""
    if not name or not name.strip() or len(name) > MAX_NAME or not name.isprintable():
        raise SecretError("a secret's name must be printable, non-empty and at most %d characters" % MAX_NAME)
    secret = secret or new_secret()
    _check_secret(secret)
    with db.writing(engine) as conn, conn.begin():
        if conn.execute(sa.select(enrollment_secrets.c.name).where(enrollment_secrets.c.name == name)).first():
            raise SecretError("there is a secret named %s already; add the new one under another name, "
                              "then remove the old one" % name)
        conn.execute(enrollment_secrets.insert().values(name=name, secret_hash=generate_password_hash(secret),
                                                        created=db.utcnow()))
    _forget_stored(engine)
    return secret


def list_secrets(engine: Engine) -> List[Tuple[str, str]]:
    """(name, when it was added) of each secret, by name."""
    with engine.connect() as conn:
        return [(r.name, r.created.isoformat(sep=" ", timespec="seconds")) for r in conn.execute(
            sa.select(enrollment_secrets.c.name, enrollment_secrets.c.created).order_by(enrollment_secrets.c.name))]


def remove_secret(engine: Engine, name: str) -> bool:
    """Removes the secret NAME; False when there is none of that name."""
    with db.writing(engine) as conn, conn.begin():
        removed = conn.execute(enrollment_secrets.delete().where(enrollment_secrets.c.name == name)).rowcount > 0
    _forget_stored(engine)
    return removed


def _bearer(authorization: Optional[str]) -> Optional[str]:
    scheme, _, token = (authorization or "").strip().partition(" ")
    token = token.strip()
    return token if scheme.lower() == "bearer" and token else None


def _wait(counts: List[accounts.Count], now: datetime.datetime) -> int:
    failures, last_failure = counts[0]
    return auth.wait_seconds(failures, last_failure, now, free=FREE_FAILURES)


def _stored_secrets(engine: Engine) -> List[Tuple[str, str]]:
    """(name, hash) of every secret, as read at most STORED_SECONDS ago."""
    now = time.monotonic()
    with _stored_lock:
        read, changes = _stored.get(engine), _changes[0]
    if read is not None and now - read[0] < STORED_SECONDS:
        return read[1]
    with engine.connect() as conn:
        stored = [(r.name, r.secret_hash) for r in conn.execute(
            sa.select(enrollment_secrets.c.name, enrollment_secrets.c.secret_hash))]
    with _stored_lock:
        if changes == _changes[0]:
            _stored[engine] = (now, stored)
    return stored


def _forget_stored(engine: Engine) -> None:
    with _stored_lock:
        _changes[0] += 1
        _stored.pop(engine, None)


def check(engine: Engine, authorization: Optional[str], address: Optional[str]) -> Verdict:
    """Whether a record with this Authorization header from ADDRESS is taken.
    A secret that matched before in this process is taken at once (no guess,
    nothing to count: a slowed address still gets its valid PCs through);
    any other is a counted attempt, heard only when the address need not
    wait."""
    stored = _stored_secrets(engine)
    if not stored:
        return Verdict(0)
    token = _bearer(authorization)
    if token is None:
        return Verdict(401)
    digest = hmac.new(_cache_key, token.encode("utf-8", "surrogatepass"), hashlib.sha256).digest()
    with _verified_lock:
        for name, hashed in stored:
            known = _verified.get((name, hashed))
            if known is not None and hmac.compare_digest(known, digest):
                return Verdict(0, name)
    subjects = ["enrollment:" + hashlib.sha256((address or "").encode("utf-8", "surrogatepass")).hexdigest()]
    wait = accounts.take_attempt(engine, subjects, _wait, auth.FAILURE_WINDOW)
    if wait:
        return Verdict(429, wait=wait)
    for name, hashed in stored:
        if check_password_hash(hashed, token):
            accounts.forgive_attempt(engine, subjects)
            with _verified_lock:
                _verified[(name, hashed)] = digest
            return Verdict(0, name)
    return Verdict(403)

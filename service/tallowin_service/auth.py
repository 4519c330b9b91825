"""Administrators: names with password hashes (werkzeug.security), and HTTP
basic authentication for the JSON API. The SOAP endpoint needs none: the
control has no credentials."""

import functools
import hashlib
import hmac
import os
import threading

import sqlalchemy as sa
from flask import Response, current_app, g, request
from werkzeug.security import check_password_hash, generate_password_hash

from . import store
from .store import administrators

_verified = {}  # (name, stored hash) -> keyed digest of a password that matched it
_verified_lock = threading.Lock()
_cache_key = os.urandom(32)


class AdminError(ValueError):
    pass


def set_admin(engine, name, password):
    """Creates the administrator NAME, or gives an existing one this password.
    Returns True when it was created."""
    if not name or not name.strip() or ":" in name:
        raise AdminError("an administrator's name must be non-empty and without ':'")
    if not password:
        raise AdminError("the password must not be empty")
    hashed = generate_password_hash(password)
    with store.writing(engine) as conn, conn.begin():
        exists = conn.execute(sa.select(administrators.c.id).where(administrators.c.name == name)).first()
        if exists:
            conn.execute(administrators.update().where(administrators.c.id == exists.id)
                         .values(password_hash=hashed))
            return False
        conn.execute(administrators.insert().values(name=name, password_hash=hashed,
                                                     created=store.utcnow()))
        return True


def check_admin(engine, name, password):
    """True when NAME is an administrator and PASSWORD is theirs. A match is
    remembered in this process (as a keyed digest) until the hash changes:
    the hash is slow on purpose, and the API asks on every request."""
    if not name or password is None:
        return False
    with engine.connect() as conn:
        row = conn.execute(sa.select(administrators.c.password_hash)
                           .where(administrators.c.name == name)).first()
    if row is None:
        return False
    digest = hmac.new(_cache_key, password.encode("utf-8", "surrogatepass"), hashlib.sha256).digest()
    with _verified_lock:
        known = _verified.get((name, row.password_hash))
    if known is not None and hmac.compare_digest(known, digest):
        return True
    if not check_password_hash(row.password_hash, password):
        return False
    with _verified_lock:
        if len(_verified) > 1000:
            _verified.clear()
        _verified[(name, row.password_hash)] = digest
    return True


def admin_names(engine):
    """The administrators' names, sorted."""
    with engine.connect() as conn:
        return conn.execute(sa.select(administrators.c.name).order_by(administrators.c.name)).scalars().all()


def require_basic_auth(view):
    """For API views: HTTP basic authentication as an administrator, else 401
    with a WWW-Authenticate challenge. Sets g.admin to the name."""
    @functools.wraps(view)
    def wrapped(*args, **kwargs):
        a = request.authorization
        engine = current_app.extensions["tallowin"].engine
        if a is None or a.type != "basic" or not check_admin(engine, a.username, a.password):
            return Response('{"error": "administrator credentials required"}\n', 401,
                            {"WWW-Authenticate": 'Basic realm="Tallowin inventory", charset="UTF-8"',
                             "Content-Type": "application/json"})
        g.admin = a.username
        return view(*args, **kwargs)
    return wrapped

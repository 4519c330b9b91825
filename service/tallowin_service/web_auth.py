"""The pages' sessions (the signed cookie), CSRF tokens, the security headers
every answer carries, and the check of every parameter.

The session is Flask's signed cookie. Its key is made once and kept in the
database, so every worker process and every host behind a load balancer signs
and checks with the same key, and a restart does not sign everyone out.
"""

import datetime
import hashlib
import hmac
import secrets
from typing import Any, Iterable, List, Tuple

from flask import Flask, abort, jsonify, request, session
from flask.sessions import SecureCookieSessionInterface

SESSION_HOURS = 12
CSRF_FIELD = "csrf_token"
SAFE_METHODS = ("GET", "HEAD", "OPTIONS")

CONTENT_SECURITY_POLICY = (
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'")


class SessionInterface(SecureCookieSessionInterface):
    """The cookie is Secure whenever the request came over TLS (directly or,
    with the proxy settings, as the front server says), not only by setting."""

    def get_cookie_secure(self, app):
        return bool(app.config.get("SESSION_COOKIE_SECURE")) or request.is_secure


def configure_sessions(app: Flask, secret: str) -> None:
    app.secret_key = secret
    app.session_interface = SessionInterface()
    app.config.update(
        SESSION_COOKIE_NAME="tallowin_session",
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Lax",
        PERMANENT_SESSION_LIFETIME=datetime.timedelta(hours=SESSION_HOURS),
    )


def new_secret() -> str:
    return secrets.token_hex(32)


def password_fingerprint(password_hash: str) -> str:
    """Kept in the session: a new password (add-admin again) ends the sessions
    signed in with the old one."""
    return hashlib.sha256(password_hash.encode("utf-8")).hexdigest()[:32]


def csrf_token() -> str:
    token = session.get("csrf")
    if not token:
        token = secrets.token_urlsafe(32)
        session["csrf"] = token
    return token


def check_csrf() -> None:
    """Every state-changing request must carry the session's token."""
    if request.method in SAFE_METHODS:
        return
    expected = session.get("csrf")
    given = request.form.get(CSRF_FIELD, "")
    if not expected or not hmac.compare_digest(expected.encode(), given.encode()):
        abort(400, description="The form had expired or did not come from this site. "
                               "Reload the page and try again.")


def is_safe_next(target: str) -> bool:
    """Only a path on this site: no scheme, no host, no protocol-relative //."""
    return (bool(target) and target.startswith("/") and not target.startswith("//")
            and "\\" not in target and not any(ord(c) < 32 for c in target))


SECURITY_HEADERS = (
    ("Content-Security-Policy", CONTENT_SECURITY_POLICY),
    ("X-Content-Type-Options", "nosniff"),
    ("X-Frame-Options", "DENY"),
    ("Referrer-Policy", "same-origin"),
)


def with_security_headers(headers: Iterable[Tuple[str, str]]) -> List[Tuple[str, str]]:
    """The (name, value) list of an answer with every security header it
    lacks (app.SecurityHeaders and the server's own error pages)."""
    present = {name.lower() for name, _ in headers}
    headers = list(headers) + [(n, v) for n, v in SECURITY_HEADERS if n.lower() not in present]
    content_type = next((v for n, v in headers if n.lower() == "content-type"), "")
    if "cache-control" not in present and content_type.split(";")[0].strip() in (
            "text/html", "text/csv", "text/plain", "application/json"):
        # Answers hold an inventory: not for shared caches or the back button
        # of the next person at the desk.
        headers.append(("Cache-Control", "no-store"))
    return headers


def check_parameters() -> Any:
    """Every parameter is refused before it reaches the database when the
    database could not take it (PostgreSQL's text holds no NUL)."""
    values = list(request.args.values()) + list((request.view_args or {}).values())
    if request.method == "POST" and request.mimetype == "application/x-www-form-urlencoded":
        values += list(request.form.values())
    if any(isinstance(v, str) and "\0" in v for v in values):
        message = "A parameter holds a NUL character."
        if request.blueprint == "api":
            return jsonify(error=message), 400
        abort(400, description=message)
    return None

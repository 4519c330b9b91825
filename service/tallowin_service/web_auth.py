"""Sign-in for the pages: the signed session cookie, CSRF tokens, slowing down
repeated failed sign-ins, and the security headers every answer carries.

The session is Flask's signed cookie. Its key is made once and kept in the
database, so every worker process and every host behind a load balancer signs
and checks with the same key, and a restart does not sign everyone out.
"""

import datetime
import hashlib
import hmac
import secrets

from flask import abort, request, session
from flask.sessions import SecureCookieSessionInterface
from werkzeug.security import generate_password_hash

SESSION_HOURS = 12
CSRF_FIELD = "csrf_token"
SAFE_METHODS = ("GET", "HEAD", "OPTIONS")

# Failed sign-ins: the first FREE_FAILURES within FAILURE_WINDOW cost nothing
# more than the password check; after that each further attempt for the same
# name or from the same address must wait 2, 4, 8 ... seconds (at most
# MAX_WAIT) after the last failure, and is refused unseen before that.
FREE_FAILURES = 5
FAILURE_WINDOW = datetime.timedelta(minutes=15)
MAX_WAIT = 300

# Checked against when the name is unknown, so that it costs the same time.
DUMMY_HASH = generate_password_hash(secrets.token_hex(16))

CONTENT_SECURITY_POLICY = (
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'")


class SessionInterface(SecureCookieSessionInterface):
    """The cookie is Secure whenever the request came over TLS (directly or,
    with the proxy settings, as the front server says), not only by setting."""

    def get_cookie_secure(self, app):
        return bool(app.config.get("SESSION_COOKIE_SECURE")) or request.is_secure


def configure_sessions(app, secret):
    app.secret_key = secret
    app.session_interface = SessionInterface()
    app.config.update(
        SESSION_COOKIE_NAME="tallowin_session",
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Lax",
        PERMANENT_SESSION_LIFETIME=datetime.timedelta(hours=SESSION_HOURS),
    )


def new_secret():
    return secrets.token_hex(32)


def password_fingerprint(password_hash):
    """Kept in the session: a new password (add-admin again) ends the sessions
    signed in with the old one."""
    return hashlib.sha256(password_hash.encode("utf-8")).hexdigest()[:32]


def csrf_token():
    token = session.get("csrf")
    if not token:
        token = secrets.token_urlsafe(32)
        session["csrf"] = token
    return token


def check_csrf():
    """Every state-changing request must carry the session's token."""
    if request.method in SAFE_METHODS:
        return
    expected = session.get("csrf")
    given = request.form.get(CSRF_FIELD, "")
    if not expected or not hmac.compare_digest(expected.encode(), given.encode()):
        abort(400, description="The form had expired or did not come from this site. "
                               "Reload the page and try again.")


def sign_in_subjects(name, address):
    return ["name:" + name.casefold()[:200], "address:" + (address or "")]


def wait_seconds(failures, last_failure, now):
    """Seconds before the next attempt is heard, from the failures so far."""
    if failures < FREE_FAILURES or last_failure is None:
        return 0
    if now - last_failure > FAILURE_WINDOW:
        return 0
    wait = min(2 ** (failures - FREE_FAILURES + 1), MAX_WAIT)
    left = wait - (now - last_failure).total_seconds()
    return max(0, int(left + 0.999))


def is_safe_next(target):
    """Only a path on this site: no scheme, no host, no protocol-relative //."""
    return (bool(target) and target.startswith("/") and not target.startswith("//")
            and "\\" not in target and not any(ord(c) < 32 for c in target))


def add_security_headers(response):
    headers = response.headers
    headers.setdefault("Content-Security-Policy", CONTENT_SECURITY_POLICY)
    headers.setdefault("X-Content-Type-Options", "nosniff")
    headers.setdefault("X-Frame-Options", "DENY")
    headers.setdefault("Referrer-Policy", "same-origin")
    if response.mimetype in ("text/html", "text/csv", "text/plain"):
        # Pages hold an inventory: not for shared caches or the back button
        # of the next person at the desk.
        headers.setdefault("Cache-Control", "no-store")
    return response

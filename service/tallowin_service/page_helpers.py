"""What the pages' modules share: the blueprint, the database, the
template filters for times and names, the error pages, and the reading of
list parameters (sort, numbers, pages)."""

import datetime
from typing import Any, Callable, Dict, Iterable, Iterator, Optional

from flask import (Blueprint, Flask, Response, abort, current_app, g, redirect, render_template, request,
                   session, url_for)
from werkzeug.exceptions import HTTPException

from . import accounts, page_queries, paging, texts, web_auth
from .db import Connection, Engine

bp = Blueprint("pages", __name__, template_folder="templates", static_folder="static",
               static_url_path="/static")


# Sorted from the top down unless asked otherwise: the most first.
DESCENDING_FIRST = ("programs", "machines", "silent")


def engine() -> Engine:
    return current_app.extensions["tallowin"].engine


def as_utc(value) -> datetime.datetime:
    if isinstance(value, str):
        value = datetime.datetime.fromisoformat(value)
    if value.tzinfo is None:
        value = value.replace(tzinfo=datetime.timezone.utc)
    return value.astimezone(datetime.timezone.utc)


@bp.app_template_filter("age_days")
def days_since(value, now=None) -> int:
    return max(0, ((now or datetime.datetime.now(datetime.timezone.utc)) - as_utc(value)).days)


@bp.app_template_filter("ago")
def format_ago(value, now=None):
    """How long ago, in the largest whole unit: "41 days ago"."""
    if not value:
        return ""
    seconds = ((now or datetime.datetime.now(datetime.timezone.utc)) - as_utc(value)).total_seconds()
    for unit, size in (("day", 86400), ("hour", 3600), ("minute", 60)):
        if seconds >= size:
            n = int(seconds // size)
            return "%s %s%s ago" % ("{:,}".format(n), unit, "" if n == 1 else "s")
    return "just now"


@bp.app_template_filter("days")
def format_days(value):
    return "{:,}".format(days_since(value)) if value else ""


@bp.app_template_filter("natural")
def natural_sort(names):
    """Names in the order people expect: "NuGet 12" before "NuGet 119"."""
    return sorted(names, key=page_queries.natural_key)


def signed_in_admin() -> Optional[str]:
    """The administrator whose session this is; a session that no longer
    holds (new password, signed out elsewhere) is forgotten."""
    name = session.get("admin")
    if not name:
        return None
    with engine().connect() as conn:
        admin = accounts.admin_session(conn, name)
    if admin and web_auth.password_fingerprint(admin.password_hash) == session.get("pw") \
            and admin.session_generation == session.get("gen"):
        return name
    for item in ("admin", "pw", "gen"):
        session.pop(item, None)
    return None


@bp.app_errorhandler(HTTPException)
def http_error(error):
    """Errors as pages, for every path but the API's (which answers JSON)."""
    if request.blueprint == "api" or request.path.startswith("/api/"):
        return error
    # Werkzeug's own wording is for servers in general; ours says where to go.
    default = error.description == type(error).description
    response = error_page(error.code or 500, None if default else error.description)
    if error.code == 405 and getattr(error, "valid_methods", None):
        response.headers["Allow"] = ", ".join(error.valid_methods)
    return response


ERROR_TITLES = {400: "Bad request", 404: "Not found", 405: "Not a way to ask for this page",
                413: "Too much sent", 429: "Too many attempts", 500: "The service failed"}
ERROR_MESSAGES = {404: "There is no page at this address.",
                  405: "This address is only for reading (or only for a form's button). Follow a link instead.",
                  413: "The request was larger than the service takes.",
                  500: "Something went wrong on the server; its log says why. Try again, or go on from here."}


def error_page(code: int, message: Optional[str] = None) -> Response:
    """A styled page for an error, with the header and ways on."""
    if code >= 500 or code in (405, 413) or not message:
        message = ERROR_MESSAGES.get(code, message or "")
    # A path no page has never reached the check of the session.
    admin = g.admin if "admin" in g else signed_in_admin()
    return Response(render_template(
        "pages/error.html", title=ERROR_TITLES.get(code, "Error %d" % code), message=message,
        admin=admin, service_host=request.host), status=code)


def error_page_wsgi(app: Flask) -> Callable[[dict, int], bytes]:
    """The body of an error page for a request that never reaches Flask (a
    body above the limit is refused before it is read)."""
    def body(environ, code):
        with app.request_context(environ):
            return error_page(code).get_data()
    return body


def page_number(name: str = "page") -> int:
    return paging.page_number(request.args.get(name))



def sort_args(sorts, default):
    """(sort, descending) from the request, with defaults for what is unknown."""
    sort = request.args.get("sort", default)
    if sort not in sorts:
        sort = default
    return sort, request.args.get("dir", "desc" if sort in DESCENDING_FIRST else "asc") == "desc"


def number_arg(name: str, label: str, maximum: int) -> int:
    """A whole number from the request (0 when absent); anything else is
    explained on a page of its own rather than ignored."""
    text = request.args.get(name, "").strip()
    if not text:
        return 0
    if not text.isdigit():
        abort(400, description="“%s” is not a number of %s. Give a whole number, such as 30, or leave it empty."
              % (texts.cap(text, 40), label))
    return min(int(text[:12]), maximum)


def store_sort(sort, desc):
    if sort == "silent":   # the days silent: the last seen the other way round
        sort, desc = "last_seen", not desc
    return ("-" if desc else "") + sort


def page_args(*names: str) -> Dict[str, str]:
    return {n: request.args[n] for n in names if request.args.get(n)}


def past_the_end(page: int, total: int, size: int, endpoint: str, **args) -> Any:
    """A redirect to the last page for a page number beyond it."""
    pages = paging.page_count(total, size)
    if page <= pages:
        return None
    return redirect(url_for(endpoint, **dict(request.args.to_dict(), **args, page=pages)))


def csv_rows(query: Callable[[Connection], Iterable[Any]], row_of: Callable[[Any], list]) -> Iterator[list]:
    """The rows of query(conn) for csv_response; the connection lives as long
    as the answer is being sent."""
    eng = engine()
    with eng.connect() as conn:
        for item in query(conn):
            yield row_of(item)

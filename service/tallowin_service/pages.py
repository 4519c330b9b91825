"""The administrators' pages: sign-in, the fleet, the PCs, one PC with its
history, and the programs. Server-rendered with Jinja2; no script.

Every text shown comes from a record a PC sent and is untrusted: the templates
autoescape it, and the Content-Security-Policy (web_auth) allows no script at
all, so a program named like markup is only ever text.
"""

import datetime
from typing import Any, Callable, Dict, Iterable, Iterator, NoReturn, Union

from flask import (Blueprint, Flask, Response, abort, current_app, g, redirect, render_template,
                   request, session, url_for)
from markupsafe import Markup, escape
from werkzeug.exceptions import HTTPException

from . import accounts, auth, paging, queries, texts, web_auth
from .csv_out import csv_response
from .db import Connection, Engine

bp = Blueprint("pages", __name__, template_folder="templates", static_folder="static",
               static_url_path="/static")

PAGE = 100            # PCs, programs, a program's PCs
PROGRAM_PAGE = 500    # one PC's programs
HISTORY_PAGE = 20     # one PC's records
# A page stays small whatever a record holds: at most this many lines of a
# section and this many added (and removed) names per record; the record's
# texts, downloadable, hold everything.
LINE_LIMIT = 2000
CHANGE_LIMIT = 100
FLEET_LIST = 15       # the fleet page's short lists
# A text from a record is shown at most this long (a line of a section
# LINE_CHARS), the rest marked as cut; the downloads and the API keep it whole.
SHORT = 120
LINE_CHARS = 500
TEXT_PARTS = ("programs", "network", "processor")
MACHINE_SORTS = ("name", "address", "user", "os", "processor", "last_seen", "programs")
OPEN_ENDPOINTS = ("pages.sign_in", "pages.static")


def engine() -> Engine:
    return current_app.extensions["tallowin"].engine


# ---- set-up ---------------------------------------------------------------

def init_app(app: Flask) -> None:
    """Mounts the pages on the service's application (create_app has set up
    the sessions and the security headers)."""
    app.register_blueprint(bp)
    app.jinja_env.globals["csrf_token"] = web_auth.csrf_token


@bp.app_template_filter("num")
def format_number(value):
    return "{:,}".format(value or 0)


def as_utc(value: Union[str, datetime.datetime]) -> datetime.datetime:
    if isinstance(value, str):
        value = datetime.datetime.fromisoformat(value)
    if value.tzinfo is None:
        value = value.replace(tzinfo=datetime.timezone.utc)
    return value.astimezone(datetime.timezone.utc)


@bp.app_template_filter("short")
def shorten(value, limit=SHORT):
    text = "" if value is None else str(value)
    if len(text) <= limit:
        return text
    return escape(text[:limit]) + Markup('<abbr class="cut" title="shortened: %s characters in all">…</abbr>'
                                         % format_number(len(text)))


@bp.app_template_filter("utc")
def format_utc(value):
    return as_utc(value).strftime("%Y-%m-%d %H:%M") if value else ""


@bp.app_template_filter("iso")
def format_iso(value):
    return as_utc(value).isoformat(timespec="seconds").replace("+00:00", "Z") if value else ""


@bp.before_request
def require_admin():
    web_auth.check_csrf()
    g.admin = None
    name = session.get("admin")
    if name:
        with engine().connect() as conn:
            admin = accounts.admin_session(conn, name)
        if admin and web_auth.password_fingerprint(admin.password_hash) == session.get("pw") \
                and admin.session_generation == session.get("gen"):
            g.admin = name
        else:
            for item in ("admin", "pw", "gen"):
                session.pop(item, None)
    if g.admin is None and request.endpoint not in OPEN_ENDPOINTS:
        target = request.full_path if request.query_string else request.path
        return redirect(url_for("pages.sign_in", next=target))
    return None


@bp.context_processor
def page_globals():
    return {"admin": g.get("admin"), "service_host": request.host}


@bp.app_errorhandler(HTTPException)
def http_error(error):
    """Errors on the pages as pages; the API and the SOAP endpoint keep theirs."""
    if request.blueprint != "pages":
        return error
    titles = {400: "Bad request", 404: "Not found", 429: "Too many attempts"}
    response = Response(render_template(
        "pages/error.html", title=titles.get(error.code, error.name), message=error.description,
        admin=g.get("admin"), service_host=request.host), status=error.code)
    return response


def page_number(name: str = "page") -> int:
    return paging.page_number(request.args.get(name))


# ---- sign-in --------------------------------------------------------------

@bp.route("/sign-in", methods=["GET", "POST"])
def sign_in():
    next_path = request.values.get("next", "")
    if not web_auth.is_safe_next(next_path):
        next_path = url_for("pages.fleet")
    if request.method == "GET":
        if g.admin:
            return redirect(next_path)
        return render_template("pages/sign_in.html", next_path=next_path, name="", error=None)

    name = request.form.get("name", "").strip()
    password = request.form.get("password", "")
    ok, wait = auth.authenticate(engine(), name, password, request.remote_addr)
    if wait:
        response = Response(render_template(
            "pages/sign_in.html", next_path=next_path, name=name,
            error="Too many failed sign-ins. Try again in %d seconds." % wait), status=429)
        response.headers["Retry-After"] = str(wait)
        return response
    if not ok:
        return Response(render_template(
            "pages/sign_in.html", next_path=next_path, name=name,
            error="That name and password do not match an administrator."), status=401)

    with engine().connect() as conn:
        admin = accounts.admin_session(conn, name)
    session.clear()  # a fresh session (and CSRF token) for the signed-in administrator
    session.permanent = True
    session["admin"] = name
    session["pw"] = web_auth.password_fingerprint(admin.password_hash)
    session["gen"] = admin.session_generation
    return redirect(next_path)


@bp.route("/sign-out", methods=["POST"])
def sign_out():
    # Every session of this administrator ends, on the server too: a copy of
    # the cookie is refused from now on.
    accounts.end_sessions(engine(), g.admin)
    session.clear()
    return redirect(url_for("pages.sign_in"))


# ---- the fleet ------------------------------------------------------------

@bp.route("/")
def fleet():
    days = current_app.config["SILENT_DAYS"]
    with engine().connect() as conn:
        summary = queries.fleet_summary(conn, silent_days=days, top=FLEET_LIST, latest=FLEET_LIST * 2)
        activity = queries.fleet_activity(conn, silent_days=days, silent_limit=FLEET_LIST)
        breakdowns = [(title, [g for g in queries.breakdown(conn, by) if g["value"] is not None][:FLEET_LIST])
                      for title, by in (("PCs by Windows", "os"), ("PCs by build", "build"),
                                        ("PCs by memory", "memory"))]
    return render_template("pages/fleet.html", nav="fleet", summary=summary, activity=activity,
                           silent_days=days, breakdowns=breakdowns)


# ---- the PCs --------------------------------------------------------------

def machine_list_args():
    q = request.args.get("q", "").strip()
    sort = request.args.get("sort", "name")
    if sort not in MACHINE_SORTS:
        sort = "name"
    direction = request.args.get("dir", "desc" if sort in ("last_seen", "programs") else "asc")
    try:
        silent = min(max(0, int(request.args.get("silent", "0")[:12] or 0)), queries.MAX_DAYS)
    except ValueError:
        silent = 0
    return q, silent, sort, direction == "desc"


def fact_filters():
    """The profile's filters a PCs link carries (the fleet's breakdowns'):
    those given, well-formed ones only."""
    facts: Dict[str, Any] = {}
    if request.args.get("os", "").strip():
        facts["os"] = request.args["os"].strip()
    for name in ("build", "memory_from", "memory_below"):
        value = request.args.get(name, "")[:9]
        if value.isdigit():
            facts[name] = int(value)
    return facts


def link_args(q, silent, sort, desc):
    args = {"sort": sort, "dir": "desc" if desc else "asc", **fact_filters()}
    if q:
        args["q"] = q
    if silent:
        args["silent"] = silent
    return args


def store_sort(sort, desc):
    return ("-" if desc else "") + sort


@bp.route("/machines")
def machines():
    q, silent, sort, desc = machine_list_args()
    page = page_number()
    with engine().connect() as conn:
        result = queries.list_machines(conn, q=q, silent_days=silent or None, sort=store_sort(sort, desc),
                                       offset=paging.page_offset(page, PAGE), limit=PAGE, filters=fact_filters())
    total, rows = result["total"], result["machines"]
    pages = paging.page_count(total, PAGE)
    if page > pages:
        return redirect(url_for("pages.machines", **link_args(q, silent, sort, desc), page=pages))
    first = paging.page_offset(page, PAGE) + 1
    return render_template("pages/machines.html", nav="machines", rows=rows, total=total, q=q,
                           silent=silent, sort=sort, desc=desc, page=page, pages=pages,
                           first=first, last=first + len(rows) - 1, facts=fact_filters(),
                           args=link_args(q, silent, sort, desc))


def csv_rows(query: Callable[[Connection], Iterable[Any]], row_of: Callable[[Any], list]) -> Iterator[list]:
    """The rows of query(conn) for csv_response; the connection lives as long
    as the answer is being sent."""
    eng = engine()
    with eng.connect() as conn:
        for item in query(conn):
            yield row_of(item)


MACHINE_CSV = ["computer_name", "adapter_address", "last_user", "processor", "first_seen_utc",
               "last_seen_utc", "records", "programs", "windows", "build", "memory_bytes"]


def machine_csv_row(m):
    return [m["computer_name"], m["adapter_address"], m["last_user"], m["processor"],
            m["first_seen"], m["last_seen"], m["records"], m["programs"], m["os_name"], m["os_build"],
            m["memory_bytes"]]


@bp.route("/machines.csv")
def machines_csv():
    q, silent, sort, desc = machine_list_args()
    return csv_response("tallowin-pcs.csv", MACHINE_CSV, csv_rows(
        lambda conn: queries.iter_machines(conn, q=q, silent_days=silent or None, sort=store_sort(sort, desc),
                                           filters=fact_filters()),
        machine_csv_row))


def not_found_machine(key: str) -> NoReturn:
    abort(404, description="No PC is known as “%s”. The PCs page lists every PC." % texts.cap(key, SHORT))


# The facts a PC's Identity shows from its profile, with their labels.
FACT_LABELS = (("os_name", "Windows"), ("os_version", "Version"), ("os_build", "Build"),
               ("os_release", "Service pack / release"), ("architecture", "Architecture"),
               ("cpu_name", "Processor"), ("cpu_count", "Processors"), ("cpu_mhz", "Clock (MHz)"),
               ("memory_bytes", "Memory"), ("time_zone", "Time zone"), ("locale", "Locale"),
               ("language", "Language"), ("printers", "Printers"), ("pci_devices", "PCI devices"),
               ("scsi_devices", "SCSI devices"), ("usb_devices", "USB devices"),
               ("firewire_devices", "FireWire devices"), ("pcmcia_devices", "PCMCIA cards"))
PROFILE_LINE_LIMIT = 2000  # a section's lines shown (a thousand printers are many more)


def machine_facts(m):
    """[(label, text)] of the facts the PC's profile gave."""
    out = []
    for name, label in FACT_LABELS:
        value = m.get(name)
        if value is None or value == "":
            continue
        if name == "memory_bytes":
            value = "{:,.2f} GB".format(value / 1024 ** 3)  # as the profile's own line shows it
        elif isinstance(value, int) and name != "os_build":  # a build is a name, not a quantity
            value = format_number(value)
        out.append((label, value))
    return out


@bp.route("/machines/<key:key>")
def machine(key):
    pq = request.args.get("pq", "").strip()
    ppage, hpage = page_number("ppage"), page_number("hpage")
    with engine().connect() as conn:
        m = queries.get_machine(conn, key)
        if m is None:
            not_found_machine(key)
        history = queries.machine_records(conn, key, offset=paging.page_offset(hpage, HISTORY_PAGE),
                                          limit=HISTORY_PAGE)
    if history is None:
        not_found_machine(key)
    everything = m["current_programs"]
    if pq:
        folded = pq.casefold()
        matching = [p for p in everything if folded in p.casefold()]
    else:
        matching = everything
    start = paging.page_offset(ppage, PROGRAM_PAGE)
    # A machine's first record is where it starts: nothing added or removed.
    records = [dict(r, first=history["offset"] + i == history["total"] - 1)
               for i, r in enumerate(history["records"])]
    return render_template(
        "pages/machine.html", nav="machines", m=m, pq=pq, line_limit=LINE_LIMIT, line_chars=LINE_CHARS,
        facts=machine_facts(m), profile_limit=PROFILE_LINE_LIMIT,
        change_limit=CHANGE_LIMIT,
        programs=matching[start:start + PROGRAM_PAGE], program_shown=len(matching),
        program_total=len(everything), ppage=ppage,
        ppages=paging.page_count(len(matching), PROGRAM_PAGE),
        records=records, record_total=history["total"], hpage=hpage,
        hpages=paging.page_count(history["total"], HISTORY_PAGE))


@bp.route("/machines/<key:key>/records/<int:record_id>/<part>.txt")
def record_text(key, record_id, part):
    if part not in TEXT_PARTS:
        abort(404, description="A record has three texts: programs, network and processor.")
    with engine().connect() as conn:
        record = queries.get_record(conn, record_id) if record_id <= queries.MAX_ID else None
    if record is None or record["machine"] != key:
        abort(404, description="This PC has no record %d." % record_id)
    stamp = as_utc(record["received"]).strftime("%Y%m%dT%H%M%SZ")
    text = {"programs": record["programs_text"], "network": record["network_text"],
            "processor": record["processor_text"]}[part]
    response = Response(text.encode("utf-8", "surrogatepass"),
                        mimetype="text/plain")
    response.headers["Content-Disposition"] = 'attachment; filename="record-%d-%s-%s.txt"' % (
        record_id, stamp, part)
    return response


# ---- the programs ---------------------------------------------------------

@bp.route("/programs")
def programs():
    q = request.args.get("q", "").strip()
    page = page_number()
    with engine().connect() as conn:
        result = queries.search_programs(conn, q, offset=paging.page_offset(page, PAGE), limit=PAGE)
    return render_template("pages/programs.html", nav="programs", q=q, rows=result["programs"],
                           total=result["total"], page=page, pages=paging.page_count(result["total"], PAGE))


@bp.route("/program")
def program():
    name = request.args.get("name", "")
    page = page_number()
    with engine().connect() as conn:
        result = queries.program_machines(conn, name, offset=paging.page_offset(page, PAGE), limit=PAGE)
    return render_template("pages/program.html", nav="programs", name=name,
                           rows=result["machines"], total=result["total"], page=page,
                           pages=paging.page_count(result["total"], PAGE))


@bp.route("/program.csv")
def program_csv():
    name = request.args.get("name", "")
    return csv_response("tallowin-program-pcs.csv", MACHINE_CSV,
                        csv_rows(lambda conn: queries.iter_program_machines(conn, name), machine_csv_row))

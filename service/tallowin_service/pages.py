"""The administrators' pages: sign-in, the fleet, the PCs, one PC with its
history, and the programs. Server-rendered with Jinja2; no script.

Every text shown comes from a record a PC sent and is untrusted: the templates
autoescape it, and the Content-Security-Policy (web_auth) allows no script at
all, so a program named like markup is only ever text.
"""

import urllib.parse
from typing import Any, Dict, List, NoReturn

from flask import Flask, Response, abort, current_app, g, redirect, render_template, request, session, url_for
from markupsafe import Markup, escape

from . import accounts, auth, page_queries, paging, queries, texts, web_auth
from .csv_out import csv_response
from .finding import render_search
from .page_helpers import (as_utc, bp, csv_rows, days_since, engine, natural_sort, number_arg, page_args,
                           page_number, past_the_end, signed_in_admin, sort_args, store_sort)

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
MACHINE_SORTS = ("name", "address", "user", "processor", "last_seen", "silent", "programs", "os")
PROGRAM_SORTS = ("machines", "name")
PROGRAM_MACHINE_SORTS = ("name", "address", "user", "last_seen")
OPEN_ENDPOINTS = ("pages.sign_in", "pages.static")


# ---- set-up ---------------------------------------------------------------

def init_app(app: Flask) -> None:
    """Mounts the pages on the service's application (create_app has set up
    the sessions and the security headers)."""
    app.register_blueprint(bp)
    app.jinja_env.globals["csrf_token"] = web_auth.csrf_token


@bp.app_template_filter("num")
def format_number(value):
    return "{:,}".format(value or 0)


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
    g.admin = signed_in_admin()
    if g.admin is None and request.endpoint not in OPEN_ENDPOINTS:
        target = request.full_path if request.query_string else request.path
        return redirect(url_for("pages.sign_in", next=target))
    return None


@bp.context_processor
def page_globals():
    return {"admin": g.get("admin"), "service_host": request.host}


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
    silent = number_arg("silent", "days", queries.MAX_DAYS)
    # The silent PCs come the longest silent first unless sorted otherwise.
    sort, desc = sort_args(MACHINE_SORTS, "silent" if silent else "name")
    return q, silent, sort, desc


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
                           args=link_args(q, silent, sort, desc), back=request.query_string.decode("latin-1"),
                           silent_days=current_app.config["SILENT_DAYS"])


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
    """A name that is not a PC's key: the search for it, answered 404."""
    q = key[5:] if key.startswith("name:") else key
    abort(Response(render_search(q, missing=key), status=404))


def back_to_list() -> str:
    """The PCs list as it was when the PC was opened from it (its query
    string rides along in "back"); only ever the list itself."""
    pairs = urllib.parse.parse_qsl(request.args.get("back", ""))[:10]
    args: Dict[str, Any] = {k: v[:200] for k, v in pairs if k != "back" and not k.startswith("_")}
    return url_for("pages.machines", **args)


# The facts a PC's Identity shows from its profile, with their labels.
FACT_LABELS = (("os_name", "Windows"), ("os_version", "Version"), ("os_build", "Build"),
               ("os_release", "Service pack / release"), ("architecture", "Architecture"),
               ("cpu_name", "Processor maker"), ("cpu_count", "Processors"), ("cpu_mhz", "Clock (MHz)"),
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
    if not key.strip() or key.startswith("name:") and not key[5:].strip():
        abort(404, description="A PC's address needs its key.")
    with engine().connect() as conn:
        m = queries.get_machine(conn, key)
        if m is None:
            not_found_machine(key)
        history = queries.machine_records(conn, key, offset=paging.page_offset(hpage, HISTORY_PAGE),
                                          limit=HISTORY_PAGE)
    if history is None:
        not_found_machine(key)
    everything = natural_sort(m["current_programs"])
    if pq:
        folded = pq.casefold()
        matching = [p for p in everything if folded in p.casefold()]
    else:
        matching = everything
    ppages, hpages = paging.page_count(len(matching), PROGRAM_PAGE), paging.page_count(history["total"], HISTORY_PAGE)
    if ppage > ppages or hpage > hpages:
        return redirect(url_for("pages.machine", **dict(request.args.to_dict(), key=key, ppage=min(ppage, ppages),
                                                         hpage=min(hpage, hpages))))
    start = paging.page_offset(ppage, PROGRAM_PAGE)
    # A machine's first record is where it starts: nothing added or removed.
    records = [dict(r, first=history["offset"] + i == history["total"] - 1,
                    changes=page_queries.pair_updates(r["added"], r["removed"]))
               for i, r in enumerate(history["records"])]
    return render_template(
        "pages/machine.html", nav="machines", m=m, pq=pq, line_limit=LINE_LIMIT, line_chars=LINE_CHARS,
        facts=machine_facts(m), profile_limit=PROFILE_LINE_LIMIT,
        change_limit=CHANGE_LIMIT,
        programs=matching[start:start + PROGRAM_PAGE], program_shown=len(matching),
        program_total=len(everything), ppage=ppage, ppages=ppages,
        records=records, record_total=history["total"], hpage=hpage, hpages=hpages,
        back=back_to_list(), keep=page_args("pq", "back"), network=network_view(m["network"]),
        processor_summary=texts.processor_summary(texts.SEPARATOR.join(m["processor"])),
        silent=days_since(m["last_seen"]) >= current_app.config["SILENT_DAYS"])


# What an interface's block shows; its counters stay with the raw lines.
INTERFACE_LABELS = ("Type", "Speed", "Admin Status", "MAC Address", "IP Address")


def network_view(lines: List[str]) -> Dict[str, Any]:
    """A PC's network lines for its page: its IP addresses and DNS name, and
    the main lines of each interface as a block of its own."""
    found: Dict[str, Any] = {"addresses": [], "dns": "", "interfaces": []}
    for line in lines[:LINE_LIMIT]:
        label, _, value = line.strip().partition(": ")
        if line.startswith("Interface: "):
            found["interfaces"].append({"name": value, "lines": []})
        elif line.startswith("  ") and found["interfaces"] and label in INTERFACE_LABELS:
            found["interfaces"][-1]["lines"].append(line.strip())
        if label == "IP Address" and value.strip() not in found["addresses"] and value.strip() != "127.0.0.1":
            found["addresses"].append(value.strip())
        elif label in ("Fully Qualified Domain Name", "DNS Host Name") and not found["dns"]:
            found["dns"] = value.strip()
    return found


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
    sort, desc = sort_args(PROGRAM_SORTS, "machines")
    page = page_number()
    with engine().connect() as conn:
        result = queries.search_programs(conn, q, sort=sort, descending=desc,
                                         offset=paging.page_offset(page, PAGE), limit=PAGE)
    return past_the_end(page, result["total"], PAGE, "pages.programs") or render_template(
        "pages/programs.html", nav="programs", q=q, rows=result["programs"], total=result["total"], page=page,
        pages=paging.page_count(result["total"], PAGE), sort=sort, desc=desc,
        args=dict(page_args("q"), sort=sort, dir="desc" if desc else "asc"))


@bp.route("/program")
def program():
    name = request.args.get("name", "")
    sort, desc = sort_args(PROGRAM_MACHINE_SORTS, "name")
    page = page_number()
    with engine().connect() as conn:
        result = queries.program_machines(conn, name, sort=store_sort(sort, desc),
                                          offset=paging.page_offset(page, PAGE), limit=PAGE)
    return past_the_end(page, result["total"], PAGE, "pages.program") or render_template(
        "pages/program.html", nav="programs", name=name, rows=result["machines"], total=result["total"],
        page=page, pages=paging.page_count(result["total"], PAGE), sort=sort, desc=desc,
        args=dict(name=name, sort=sort, dir="desc" if desc else "asc"),
        silent_days=current_app.config["SILENT_DAYS"])


@bp.route("/program.csv")
def program_csv():
    name = request.args.get("name", "")
    sort, desc = sort_args(PROGRAM_MACHINE_SORTS, "name")
    return csv_response("tallowin-program-pcs.csv", MACHINE_CSV, csv_rows(
        lambda conn: queries.iter_program_machines(conn, name, sort=store_sort(sort, desc)), machine_csv_row))

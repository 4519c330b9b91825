"""The pages that find things across the fleet: the search from the
header, the PCs with any version of a program, the fleet's changes."""

import datetime
from typing import Any, Optional

from flask import current_app, redirect, render_template, request, url_for

from . import page_queries, paging, queries, texts
from .csv_out import csv_response
from .page_helpers import (abort, bp, csv_rows, engine, number_arg, page_args, page_number, past_the_end,
                           sort_args, store_sort)

PAGE = 100            # rows of PCs and programs
ANY_VERSION_SORTS = ("name", "program", "user", "last_seen")
SEARCH_LIST = 50      # the search's PCs and programs
CHANGE_PAGE = 30      # records on a page of the fleet's changes
CHANGE_ITEMS = 100    # changes shown of one record
QUERY_CHARS = 240     # the longest search text taken
ANY_VERSION_CSV = ["computer_name", "program", "adapter_address", "last_user", "last_seen_utc"]


@bp.route("/programs/machines")
def any_version():
    """One list of the PCs with any program whose name contains q."""
    q = request.args.get("q", "").strip()
    if not q:
        return redirect(url_for("pages.programs"))
    sort, desc = sort_args(ANY_VERSION_SORTS, "name")
    page = page_number()
    with engine().connect() as conn:
        result = page_queries.any_version_machines(conn, q, sort=store_sort(sort, desc),
                                                   offset=paging.page_offset(page, PAGE), limit=PAGE)
    return past_the_end(page, result["total"], PAGE, "pages.any_version") or render_template(
        "pages/any_version.html", nav="programs", q=q, rows=result["rows"], total=result["total"],
        page=page, pages=paging.page_count(result["total"], PAGE), sort=sort, desc=desc,
        args=dict(q=q, sort=sort, dir="desc" if desc else "asc"), silent_days=current_app.config["SILENT_DAYS"])


@bp.route("/programs/machines.csv")
def any_version_csv():
    q = request.args.get("q", "").strip()
    sort, desc = sort_args(ANY_VERSION_SORTS, "name")
    return csv_response("tallowin-program-pcs.csv", ANY_VERSION_CSV, csv_rows(
        lambda conn: page_queries.iter_any_version_machines(conn, q, sort=store_sort(sort, desc)),
        lambda m: [m["computer_name"], m["program"], m["adapter_address"], m["last_user"], m["last_seen"]]))


# ---- the search -----------------------------------------------------------

def render_search(q: str, missing: Optional[str] = None) -> str:
    found: Any = {"total": 0, "machines": []}
    progs: Any = {"total": 0, "programs": []}
    if q:
        with engine().connect() as conn:
            found = page_queries.search_machines(conn, q, limit=SEARCH_LIST)
            progs = queries.search_programs(conn, q, limit=SEARCH_LIST)
    return render_template("pages/search.html", nav="", q=q, missing=missing, machines=found,
                           programs=progs, address=page_queries.address_form(q), cap=page_queries.SEARCH_CAP,
                           silent_days=current_app.config["SILENT_DAYS"])


@bp.route("/search")
def search():
    """The header's search: straight to the PC when exactly one matches and
    no program does; else the PCs and the programs that match."""
    q = request.args.get("q", "").strip()[:QUERY_CHARS]
    if q:
        with engine().connect() as conn:
            found = page_queries.search_machines(conn, q, limit=2)
            if found["total"] == 1 and queries.search_programs(conn, q, limit=1)["total"] == 0:
                return redirect(url_for("pages.machine", key=found["machines"][0]["key"]))
    return render_search(q)


# ---- the fleet's changes --------------------------------------------------

def date_arg(name: str) -> Optional[datetime.datetime]:
    text = request.args.get(name, "").strip()
    if not text:
        return None
    try:
        return datetime.datetime.strptime(text, "%Y-%m-%d")
    except ValueError:
        abort(400, description="“%s” is not a date. Give dates as year-month-day, such as 2026-12-01."
              % texts.cap(text, 40))


@bp.route("/changes")
def fleet_changes():
    since, until = date_arg("from"), date_arg("to")
    kind = request.args.get("kind", "")
    kind = kind if kind in ("added", "removed") else ""
    pc, program = request.args.get("pc", "").strip(), request.args.get("program", "").strip()
    before = number_arg("before", "a record", queries.MAX_ID) or None
    with engine().connect() as conn:
        result = page_queries.change_records(
            conn, since=since, until=until + datetime.timedelta(days=1) if until and until.year < 9999 else None, pc=pc,
            program=program, kind=kind, before=before, limit=CHANGE_PAGE)
    filters = page_args("from", "to", "pc", "program", "kind")
    return render_template("pages/changes.html", nav="changes", records=result["records"],
                           older=result["older"], before=before, filters=filters, kind=kind,
                           change_limit=CHANGE_ITEMS)

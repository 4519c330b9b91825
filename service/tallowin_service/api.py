"""The JSON API for administrators (HTTP basic authentication), over the
queries (queries.py). CSV forms of the machine list and of a program's machines
with ?format=csv."""

from flask import Blueprint, abort, current_app, jsonify, request

from . import paging, profile, queries
from .auth import require_basic_auth
from .csv_out import csv_response

api = Blueprint("api", __name__, url_prefix="/api")

MACHINE_COLUMNS = ("key", "computer_name", "adapter_address", "last_user", "first_seen",
                   "last_seen", "records", "programs") + profile.FACT_COLUMNS


def _conn():
    return current_app.extensions["tallowin"].engine.connect()


def _int_arg(name, default=None, minimum=0, maximum=paging.MAX_OFFSET):
    value = request.args.get(name)
    if value is None or value == "":
        return default
    try:
        number = int(value) if len(value) <= 20 else None
    except ValueError:
        number = None
    if number is None:
        abort(_bad("%s must be a whole number" % name))
    if not minimum <= number <= maximum:
        abort(_bad("%s must be from %d to %d" % (name, minimum, maximum)))
    return number


def _bad(message):
    response = jsonify(error=message)
    response.status_code = 400
    return response


def _csv(rows, filename):
    return csv_response(filename, MACHINE_COLUMNS, ([m[c] for c in MACHINE_COLUMNS] for m in rows))


def _paging():
    """offset and limit as asked (paging.window clamps them)."""
    return _int_arg("offset", 0), _int_arg("limit", paging.DEFAULT_LIMIT, minimum=1, maximum=paging.MAX_OFFSET)


@api.errorhandler(ValueError)
def _value_error(error):
    return _bad(str(error))


@api.get("/machines")
@require_basic_auth
def machines():
    offset, limit = _paging()
    with _conn() as conn:
        page = queries.list_machines(conn, q=request.args.get("q") or None,
                                   silent_days=_int_arg("silent_days", maximum=queries.MAX_DAYS),
                                   sort=request.args.get("sort", "name"), offset=offset, limit=limit,
                                   filters=_fact_filters())
    if request.args.get("format") == "csv":
        return _csv(page["machines"], "machines.csv")
    return jsonify(page)


def _fact_filters():
    """The profile's filters as asked: os, build, memory_from, memory_below,
    processor."""
    return {"os": request.args.get("os") or None, "processor": request.args.get("processor") or None,
            "build": _int_arg("build", maximum=queries.MAX_ID),
            "memory_from": _int_arg("memory_from", maximum=1 << 20),
            "memory_below": _int_arg("memory_below", maximum=1 << 20)}


@api.get("/breakdown")
@require_basic_auth
def breakdown():
    by = request.args.get("by")
    if by not in queries.BREAKDOWNS:
        return _bad("by must be one of %s" % ", ".join(queries.BREAKDOWNS))
    with _conn() as conn:
        groups = queries.breakdown(conn, by)
    if request.args.get("format") == "csv":
        return csv_response("breakdown-%s.csv" % by, ("value", "machines"),
                            ([g["value"], g["machines"]] for g in groups))
    return jsonify({"by": by, "groups": groups})


@api.get("/machines/<key:key>/records")
@require_basic_auth
def machine_records(key):
    offset, limit = _paging()
    with _conn() as conn:
        page = queries.machine_records(conn, key, offset=offset, limit=limit)
    if page is None:
        return jsonify(error="no such machine"), 404
    return jsonify(page)


@api.get("/machines/<key:key>")
@require_basic_auth
def machine(key):
    with _conn() as conn:
        m = queries.get_machine(conn, key)
    if m is None:
        return jsonify(error="no such machine"), 404
    return jsonify(m)


@api.get("/records")
@require_basic_auth
def records():
    offset, limit = _paging()
    with _conn() as conn:
        return jsonify(queries.list_records(conn, offset=offset, limit=limit))


@api.get("/records/<int:record_id>")
@require_basic_auth
def record(record_id):
    with _conn() as conn:
        r = queries.get_record(conn, record_id) if record_id <= queries.MAX_ID else None
    if r is None:
        return jsonify(error="no such record"), 404
    return jsonify(r)


@api.get("/programs")
@require_basic_auth
def programs():
    offset, limit = _paging()
    with _conn() as conn:
        return jsonify(queries.search_programs(conn, q=request.args.get("q") or None,
                                             sort=request.args.get("sort", "machines"),
                                             offset=offset, limit=limit))


@api.get("/program-machines")
@require_basic_auth
def program_machines():
    name = request.args.get("name")
    if name is None:
        return _bad("name is required")
    offset, limit = _paging()
    with _conn() as conn:
        page = queries.program_machines(conn, name, offset=offset, limit=limit)
    if request.args.get("format") == "csv":
        return _csv(page["machines"], "program-machines.csv")
    return jsonify(page)


@api.get("/summary")
@require_basic_auth
def summary():
    with _conn() as conn:
        return jsonify(queries.fleet_summary(conn, silent_days=_int_arg("silent_days", 7, maximum=queries.MAX_DAYS)))

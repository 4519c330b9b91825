"""The questions only the pages ask: the search from the header, the PCs
with any version of a program, the fleet's changes grouped by record."""

import datetime
import re
from typing import Any, Dict, Iterator, List, Optional, Tuple

import sqlalchemy as sa

from . import texts
from .db import Connection, iso
from .paging import window
from .queries import MACHINE_SORTS, _counted, _like, _machine_dict, changes_joined
from .schema import changes, machine_network_names, machine_programs, machines, programs, records

_IPV4 = re.compile(r"^\d{1,3}(\.\d{1,3}){3}$")
_HEX_GROUPS = re.compile(r"^[0-9A-Fa-f]+([:.\-][0-9A-Fa-f]+)*$")


def address_form(q: str) -> Optional[str]:
    """An adapter address (or a part of one) written in any notation, as
    ingest keeps addresses ("00-1A-2B"); None for what cannot be one: fewer
    than four hex digits, an odd number of them, or other characters."""
    if not _HEX_GROUPS.match(q):
        return None
    digits = re.sub(r"[:.\-]", "", q).upper()
    if len(digits) < 4 or len(digits) % 2:
        return None
    return "-".join(digits[i:i + 2] for i in range(0, len(digits), 2))


def _network_match(q: str):
    """The network names the search matches: a whole IPv4 address exactly,
    anything else as the start of an address or DNS name, and an adapter
    address (or its start) in any notation."""
    column = machine_network_names.c.value
    value = q.lower()
    if _IPV4.match(value):
        return column == value
    starts = [column.like(_escaped(value) + "%", escape="\\")]
    address = address_form(q)
    if address:
        starts.append(column.like(texts.MAC_PREFIX + address.replace("-", "").lower() + "%"))
    return sa.or_(*starts)


def _escaped(text: str) -> str:
    return text.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_")


# The search counts at most this many PCs ("more than"): a word in every
# name must not make it read the whole fleet.
SEARCH_CAP = 1000


def _branches(q: str):
    """One question per way the search finds a machine, each answering
    (id, computer_name), so that each can use its own index."""
    pattern = _like(q)
    by_network = machines.join(machine_network_names, machine_network_names.c.machine_id == machines.c.id)
    return [sa.select(machines.c.id, machines.c.computer_name)
            .where(machines.c.computer_name.ilike(pattern, escape="\\")),
            sa.select(machines.c.id, machines.c.computer_name)
            .where(machines.c.last_user.ilike(pattern, escape="\\")),
            sa.select(machines.c.id, machines.c.computer_name).select_from(by_network)
            .where(_network_match(q))]


def _union_of(selects):
    """The distinct ids of the union of selects that each have their own
    LIMIT (SQLite takes a LIMIT inside a UNION only within a subquery)."""
    parts = [sa.select(s.subquery().c.id) for s in selects]
    return sa.union(*parts).subquery("found")


def search_machines(conn: Connection, q: str, limit: int = 50) -> Dict[str, Any]:
    """The machines whose computer name or last user contains q, whose
    latest record gave an IP address or DNS name starting with q, or whose
    adapter address starts with q in any notation: {"total" (at most
    SEARCH_CAP + 1), "machines": [machine dicts] (at most limit, by computer
    name)}."""
    counted = _union_of([b.limit(SEARCH_CAP + 1) for b in _branches(q)])
    total = conn.execute(sa.select(sa.func.count()).select_from(counted)).scalar()
    first = _union_of([b.order_by(machines.c.computer_name, machines.c.id).limit(limit) for b in _branches(q)])
    rows = conn.execute(sa.select(machines).where(machines.c.id.in_(sa.select(first.c.id)))
                        .order_by(machines.c.computer_name, machines.c.id).limit(limit)).fetchall()
    return {"total": min(total, SEARCH_CAP + 1), "machines": [_machine_dict(r) for r in rows]}


# ---- the PCs with any version of a program ---------------------------------

PROGRAM_MACHINE_SORTS = dict(MACHINE_SORTS, program=programs.c.name)


# Up to this many matching programs are asked for by id (the database then
# knows how many PCs each is on and can walk the PCs in order for a common
# one); more are asked for by name.
ID_LIST_LIMIT = 5000


def _any_version_query(conn: Connection, q: str, sort: str):
    """(joined, where, order, total) of the PCs with any program whose name
    holds q; total from the programs' counts."""
    counted, machine_count = _counted()
    name_matches = programs.c.name.ilike(_like(q), escape="\\")
    found = conn.execute(sa.select(programs.c.id, machine_count).select_from(counted).where(name_matches)).fetchall()
    joined = (machine_programs.join(programs, programs.c.id == machine_programs.c.program_id)
              .join(machines, machines.c.id == machine_programs.c.machine_id))
    where = (machine_programs.c.program_id.in_([r[0] for r in found]) if len(found) <= ID_LIST_LIMIT
             else name_matches)
    column = PROGRAM_MACHINE_SORTS.get((sort or "name").lstrip("-"))
    if column is None:
        raise ValueError("unknown sort: %s" % sort)
    direction = column.desc() if sort.startswith("-") else column.asc()
    order = [direction, machines.c.computer_name, machines.c.id, programs.c.name]
    return joined, where, order, sum(r[1] for r in found)


def _with_program(row) -> Dict[str, Any]:
    return dict(_machine_dict(row), program=row.program)


def any_version_machines(conn: Connection, q: str, sort: str = "name", offset: int = 0,
                         limit: int = 100) -> Dict[str, Any]:
    """One row per machine and program whose name contains q (case-
    insensitive), for the machines that have it now: {"total", "offset",
    "limit", "rows": [machine dicts with "program"]}."""
    offset, limit = window(offset, limit)
    joined, where, order, total = _any_version_query(conn, q, sort)
    rows = conn.execute(sa.select(machines, programs.c.name.label("program")).select_from(joined)
                        .where(where).order_by(*order).offset(offset).limit(limit)).fetchall() if total else []
    return {"total": total, "offset": offset, "limit": limit, "rows": [_with_program(r) for r in rows]}


def iter_any_version_machines(conn: Connection, q: str, sort: str = "name") -> Iterator[Dict[str, Any]]:
    """Every row any_version_machines would list over all its pages."""
    joined, where, order, _ = _any_version_query(conn, q, sort)
    result = conn.execution_options(stream_results=True, yield_per=1000).execute(
        sa.select(machines, programs.c.name.label("program")).select_from(joined).where(where).order_by(*order))
    for row in result:
        yield _with_program(row)


# ---- the fleet's changes --------------------------------------------------

def natural_key(name: str) -> list:
    """The order people expect: "NuGet 12" before "NuGet 119"."""
    return [(0, int(part), "") if part.isdigit() else (1, 0, part)
            for part in re.split(r"(\d+)", name.casefold())] + [(2, 0, name)]


def version_split(name: str) -> Tuple[str, str]:
    """A program name as (what it is, its version): the words before the
    first word with a digit, and the rest ("Java 8 Update 391" → "Java",
    "8 Update 391")."""
    words = name.split(" ")
    for i, word in enumerate(words):
        if any(ch.isdigit() for ch in word):
            return " ".join(words[:i]), " ".join(words[i:])
    return name, ""


def pair_updates(added: List[str], removed: List[str]) -> List[Dict[str, str]]:
    """One record's changes as items {kind, name, old, new}: a removal and an
    addition of the same program under another version become one
    "updated"; the rest stay "added" and "removed"."""
    waiting: Dict[str, List[str]] = {}
    for name in sorted(removed):
        stem, version = version_split(name)
        if stem and version:
            waiting.setdefault(stem.casefold(), []).append(name)
    items, paired = [], set()
    for name in sorted(added):
        stem, version = version_split(name)
        olds = waiting.get(stem.casefold()) if stem and version else None
        if olds:
            old = olds.pop(0)
            paired.add(old)
            items.append({"kind": "updated", "name": stem, "old": version_split(old)[1], "new": version,
                          "program": name})
        else:
            items.append({"kind": "added", "name": name, "program": name})
    items.extend({"kind": "removed", "name": n, "program": n} for n in sorted(removed) if n not in paired)
    return sorted(items, key=lambda i: (natural_key(i["name"]), i["kind"]))


def change_records(conn: Connection, since: Optional[datetime.datetime] = None,
                   until: Optional[datetime.datetime] = None, pc: str = "", program: str = "",
                   kind: str = "", before: Optional[int] = None, limit: int = 30) -> Dict[str, Any]:
    """The records that changed programs, newest first, at most limit, each
    with its changes paired (pair_updates): only records received in
    [since, until), of PCs whose name contains pc, with a change of a
    program whose name contains program, of the kind "added" or "removed"
    (updates count as both), and older than record before. Returns
    {"records": [{id, received, machine, computer_name, items}], "older":
    the id to ask before for the next page, or None}."""
    joined = changes.join(records, records.c.id == changes.c.record_id)
    where = []
    if since:
        where.append(records.c.received >= since)
    if until:
        where.append(records.c.received < until)
    if pc:
        joined = joined.join(machines, machines.c.id == changes.c.machine_id)
        where.append(machines.c.computer_name.ilike(_like(pc), escape="\\"))
    if program:
        joined = joined.join(programs, programs.c.id == changes.c.program_id)
        where.append(programs.c.name.ilike(_like(program), escape="\\"))
    if kind in ("added", "removed"):
        where.append(changes.c.added == (kind == "added"))
    if before:
        where.append(changes.c.record_id < before)
    ids = conn.execute(sa.select(changes.c.record_id).select_from(joined).where(*where)
                       .group_by(changes.c.record_id).order_by(changes.c.record_id.desc())
                       .limit(limit + 1)).scalars().all()
    older = ids[limit - 1] if len(ids) > limit else None
    ids = ids[:limit]
    found: Dict[int, Dict[str, Any]] = {}
    names: Dict[int, Tuple[List[str], List[str]]] = {i: ([], []) for i in ids}
    rows = conn.execute(
        sa.select(changes.c.record_id, changes.c.added, programs.c.name, records.c.received,
                  machines.c.machine_key, machines.c.computer_name)
        .select_from(changes_joined())
        .where(changes.c.record_id.in_(ids))) if ids else []
    for r in rows:
        found.setdefault(r.record_id, {"id": r.record_id, "received": iso(r.received), "machine": r.machine_key,
                                       "computer_name": r.computer_name})
        names[r.record_id][0 if r.added else 1].append(r.name)
    out = []
    folded = program.casefold()
    for i in ids:
        items = [item for item in pair_updates(*names[i])
                 if (not kind or item["kind"] in (kind, "updated"))
                 and (not folded or folded in item["program"].casefold()
                      or folded in item.get("name", "").casefold())]
        out.append(dict(found[i], items=items))
    return {"records": out, "older": older}

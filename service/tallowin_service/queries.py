"""The questions the API and the pages ask. Each takes a Connection and
returns plain dicts and lists (described in results); times as ISO texts."""

import datetime
from typing import Any, Dict, Iterator, List, Optional, cast

import sqlalchemy as sa

from . import profile, steady, stored_profiles, stored_texts, texts
from .db import Connection, iso, utcnow
from .paging import window
from .results import (FleetActivity, FleetSummary, HistoryPage, HistoryRecord, Machine, MachineDetail, MachinePage,
                      ProgramMachines, ProgramPage, RecordPage, StoredRecord)
from .schema import (changes, machine_programs, machines, name_hash, program_count_queue, program_counts,
                     programs, records, shared_texts)

# The largest numbers a question takes besides the pager's: an id in an
# INTEGER column, days a date can go back.
MAX_ID = 2 ** 31 - 1
MAX_DAYS = 36500


def changes_joined():
    """The changes with their records, machines and programs."""
    return (changes.join(records, records.c.id == changes.c.record_id)
            .join(machines, machines.c.id == changes.c.machine_id)
            .join(programs, programs.c.id == changes.c.program_id))


def _counted():
    """The catalogue joined with its counts, and the expression of a
    program's machine count (what program_counts holds plus what waits in
    program_count_queue)."""
    queued = (sa.select(program_count_queue.c.program_id, sa.func.sum(program_count_queue.c.delta).label("n"))
              .group_by(program_count_queue.c.program_id).subquery("queued"))
    joined = (programs.join(program_counts, program_counts.c.program_id == programs.c.id)
              .outerjoin(queued, queued.c.program_id == programs.c.id))
    return joined, program_counts.c.machine_count + sa.func.coalesce(queued.c.n, 0)


def machine_counts(conn: Connection) -> Dict[int, int]:
    """{program id: how many machines have it now} for every program."""
    joined, count = _counted()
    return dict(conn.execute(sa.select(programs.c.id, count).select_from(joined)).fetchall())


def _like(text):
    escaped = text.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_")
    return "%" + escaped + "%"


def _machine_dict(row) -> Machine:
    return cast(Machine, {
        "key": row.machine_key,
        "adapter_address": row.adapter_address,
        "computer_name": row.computer_name,
        "last_user": row.last_user,
        "first_seen": iso(row.first_seen),
        "last_seen": iso(row.last_seen),
        "records": row.record_count,
        "programs": row.program_count,
        "processor": row.processor,
        **{name: getattr(row, name) for name in profile.FACT_COLUMNS},
    })


MACHINE_SORTS = {
    "name": machines.c.computer_name,
    "address": machines.c.adapter_address,
    "user": machines.c.last_user,
    "first_seen": machines.c.first_seen,
    "last_seen": machines.c.last_seen,
    "records": machines.c.record_count,
    "programs": machines.c.program_count,
    "processor": machines.c.processor,
    "os": machines.c.os_name,
}


# The profile's filters of a machine list, each optional: os (part of the
# Windows name), build (its number), memory_from and memory_below (GB),
# processor (part of the processor's summary).
MachineFilter = Dict[str, Any]


def _fact_filters(filters):
    where: List[Any] = []
    if not filters:
        return where
    if filters.get("os"):
        where.append(machines.c.os_name.ilike(_like(filters["os"]), escape="\\"))
    if filters.get("build") is not None:
        where.append(machines.c.os_build == int(filters["build"]))
    if filters.get("memory_from") is not None:
        where.append(machines.c.memory_bytes >= int(filters["memory_from"]) * profile.GB)
    if filters.get("memory_below") is not None:
        where.append(machines.c.memory_bytes < int(filters["memory_below"]) * profile.GB)
    if filters.get("processor"):
        where.append(machines.c.processor.ilike(_like(filters["processor"]), escape="\\"))
    return where


def _machine_query(q, silent_days, sort, now, filters=None):
    """The WHERE clauses and ORDER BY of list_machines and iter_machines."""
    where = _fact_filters(filters)
    if q:
        pattern = _like(q)
        where.append(sa.or_(machines.c.computer_name.ilike(pattern, escape="\\"),
                            machines.c.adapter_address.ilike(pattern, escape="\\"),
                            machines.c.last_user.ilike(pattern, escape="\\")))
    if silent_days is not None:
        cutoff = (now or utcnow()) - datetime.timedelta(days=min(float(silent_days), MAX_DAYS))
        where.append(machines.c.last_seen <= cutoff)
    descending = (sort or "").startswith("-")
    column = MACHINE_SORTS.get((sort or "name").lstrip("-"))
    if column is None:
        raise ValueError("unknown sort: %s (one of %s)" % (sort, ", ".join(MACHINE_SORTS)))
    return where, [column.desc() if descending else column.asc(), machines.c.id]


def list_machines(conn: Connection, q: Optional[str] = None, silent_days: Optional[float] = None,
                  sort: str = "name", offset: int = 0, limit: int = 100,
                  now: Optional[datetime.datetime] = None, filters: Optional[MachineFilter] = None) -> MachinePage:
    """Machines whose computer name, adapter address or last user contains q
    (case-insensitive), optionally only those silent for at least silent_days
    days, sorted by sort (a MACHINE_SORTS key, "-" in front for descending),
    one page of at most paging.MAX_PAGE. Returns {"total", "offset", "limit",
    "machines": [{key, adapter_address, computer_name, last_user,
    first_seen, last_seen, records, programs, processor}]}."""
    offset, limit = window(offset, limit)
    where, order = _machine_query(q, silent_days, sort, now, filters)
    total = conn.execute(sa.select(sa.func.count()).select_from(machines).where(*where)).scalar()
    rows = conn.execute(sa.select(machines).where(*where).order_by(*order)
                        .offset(offset).limit(limit)).fetchall()
    return {"total": total, "offset": offset, "limit": limit,
            "machines": [_machine_dict(r) for r in rows]}


def iter_machines(conn: Connection, q: Optional[str] = None, silent_days: Optional[float] = None,
                  sort: str = "name", now: Optional[datetime.datetime] = None,
                  filters: Optional[MachineFilter] = None) -> Iterator[Machine]:
    """Every machine list_machines would list over all its pages, in the same
    order, as a generator (for CSV downloads of any size)."""
    where, order = _machine_query(q, silent_days, sort, now, filters)
    result = conn.execution_options(stream_results=True, yield_per=1000).execute(
        sa.select(machines).where(*where).order_by(*order))
    for row in result:
        yield _machine_dict(row)


def get_machine(conn: Connection, key: str) -> Optional[MachineDetail]:
    """One machine by its key (adapter address, or "name:" + computer name):
    its identity, the processor and network lines and the user name of its
    latest record, and its current programs sorted by name. None if unknown."""
    row = conn.execute(sa.select(machines).where(machines.c.machine_key == key)).first()
    if row is None:
        return None
    text_columns, joined = stored_texts.joined(records)
    last = next(iter(stored_texts.with_unmoved(conn, conn.execute(
        sa.select(records.c.id, records.c.volatile_values, *text_columns).select_from(joined)
        .where(records.c.id == row.last_record_id)).fetchall())), None)
    names = conn.execute(
        sa.select(programs.c.name)
        .select_from(machine_programs.join(programs, programs.c.id == machine_programs.c.program_id))
        .where(machine_programs.c.machine_id == row.id)).scalars().all()
    got = _as_received(conn, last) if last else {}
    # dict() keeps the keys in the machine's order, processor where it was.
    return cast(MachineDetail, dict(
        _machine_dict(row), processor=texts.lines(got.get("processor")),
        network=texts.lines(got.get("network")), last_record_id=row.last_record_id,
        profile=[{"section": title, "lines": body} for title, body in profile.sections(got.get("profile"))],
        current_programs=sorted(names, key=lambda n: (n.casefold(), n))))


def machine_records(conn: Connection, key: str, offset: int = 0, limit: int = 100) -> Optional[HistoryPage]:
    """A machine's records, newest first, one page: each {id, received,
    sender, user_name, adapter_address, programs (count of names),
    added: [names], removed: [names]}. None if the machine is unknown.
    Returns {"total", "offset", "limit", "records"}."""
    offset, limit = window(offset, limit)
    m = conn.execute(sa.select(machines.c.id, machines.c.record_count)
                     .where(machines.c.machine_key == key)).first()
    if m is None:
        return None
    page = (sa.select(records.c.id, records.c.received, records.c.sender, records.c.user_name,
                      records.c.adapter_address, records.c.programs_id, records.c.cut,
                      records.c.secret_name, records.c.origin_id)
            .where(records.c.machine_id == m.id).order_by(records.c.id.desc())
            .offset(offset).limit(limit)).subquery("page")
    origin_texts = shared_texts.alias("origin_texts")
    rows = stored_texts.with_unmoved(conn, conn.execute(
        sa.select(page, shared_texts.c.body.label("programs_text"), origin_texts.c.body.label("origin_text"))
        .select_from(page.outerjoin(shared_texts, shared_texts.c.id == page.c.programs_id)
                     .outerjoin(origin_texts, origin_texts.c.id == page.c.origin_id))
        .order_by(page.c.id.desc())).fetchall())
    ids = [r.id for r in rows]
    added: Dict[int, List[str]] = {i: [] for i in ids}
    removed: Dict[int, List[str]] = {i: [] for i in ids}
    if ids:
        for c in conn.execute(
                sa.select(changes.c.record_id, changes.c.added, programs.c.name)
                .select_from(changes.join(programs, programs.c.id == changes.c.program_id))
                .where(changes.c.record_id.in_(ids))):
            (added if c.added else removed)[c.record_id].append(c.name)
    out: List[HistoryRecord] = []
    for r in rows:
        came = stored_texts.origin(r)
        out.append({"id": r.id, "received": iso(r.received), "sender": came.sender, "secret": came.secret_name,
                    "user_name": came.user_name, "adapter_address": came.adapter_address,
                    "programs": len(texts.programs(r.programs_text)), "cut": _cut_list(r.cut),
                    "added": sorted(added[r.id]), "removed": sorted(removed[r.id])})
    return {"total": m.record_count, "offset": offset, "limit": limit, "records": out}


def _record_total(conn: Connection) -> int:
    # The machines' counts, kept by ingest and prune: counting millions of
    # records takes a PostgreSQL server most of a second.
    return int(conn.execute(sa.select(sa.func.coalesce(sa.func.sum(machines.c.record_count), 0))).scalar())


def _cut_list(cut: str) -> List[str]:
    return cut.split(",") if cut else []


def get_record(conn: Connection, record_id: int) -> Optional[StoredRecord]:
    """One record whole: {id, machine (key), received, sender, user_name,
    adapter_address, programs_text, network_text, processor_text}; None if
    there is no such record."""
    text_columns, joined = stored_texts.joined(records.join(machines, machines.c.id == records.c.machine_id))
    origin_column, joined = stored_texts.with_origin(joined)
    rows = stored_texts.with_unmoved(conn, conn.execute(
        sa.select(records, machines.c.machine_key, *text_columns, origin_column).select_from(joined)
        .where(records.c.id == record_id)).fetchall())
    return _record_dict(conn, rows[0]) if rows else None


def _as_received(conn, r) -> Dict[str, Optional[str]]:
    """{kind: text as received} of the texts of steady.KINDS of the row R (a
    record's volatile_values and KIND_text columns)."""
    return steady.restore(r.volatile_values, {"network": r.network_text, "processor": r.processor_text,
                                              "profile": stored_profiles.read(conn, r.profile_text)})


def _record_dict(conn, r) -> StoredRecord:
    got, came = _as_received(conn, r), stored_texts.origin(r)
    return {"id": r.id, "machine": r.machine_key, "received": iso(r.received), "sender": came.sender,
            "secret": came.secret_name, "user_name": came.user_name, "adapter_address": came.adapter_address,
            "programs_text": r.programs_text, "network_text": cast(str, got["network"]),
            "processor_text": cast(str, got["processor"]), "cut": _cut_list(r.cut), "profile_text": got["profile"]}


def list_records(conn: Connection, offset: int = 0, limit: int = 100) -> RecordPage:
    """All records, newest first, one page, without their texts: {"total",
    "offset", "limit", "records": [{id, machine, received, sender,
    user_name, adapter_address}]}."""
    offset, limit = window(offset, limit)
    total = _record_total(conn)
    origin_column, joined = stored_texts.with_origin(records.join(machines, machines.c.id == records.c.machine_id))
    rows = conn.execute(
        sa.select(records.c.id, machines.c.machine_key, records.c.received, records.c.sender,
                  records.c.secret_name, records.c.user_name, records.c.adapter_address, origin_column)
        .select_from(joined).order_by(records.c.id.desc()).offset(offset).limit(limit)).fetchall()
    came = [stored_texts.origin(r) for r in rows]
    return {"total": total, "offset": offset, "limit": limit,
            "records": [{"id": r.id, "machine": r.machine_key, "received": iso(r.received),
                         "sender": c.sender, "secret": c.secret_name, "user_name": c.user_name,
                         "adapter_address": c.adapter_address} for r, c in zip(rows, came)]}


def search_programs(conn: Connection, q: Optional[str] = None, sort: Optional[str] = "machines",
                    offset: int = 0, limit: int = 100, descending: Optional[bool] = None) -> ProgramPage:
    """Programs whose name contains q (case-insensitive; all without q), each
    with the number of machines that have it now; sort "machines" (most
    first) or "name" (A first), descending to say otherwise. Returns
    {"total", "offset", "limit", "programs": [{name, machines}]}."""
    offset, limit = window(offset, limit)
    counted, machine_count = _counted()
    where = [machine_count > 0]
    if q:
        where.append(programs.c.name.ilike(_like(q), escape="\\"))
    if sort == "name":
        order = [programs.c.name.desc() if descending else programs.c.name, programs.c.id]
    elif sort in (None, "machines"):
        order = [machine_count if descending is False else machine_count.desc(), programs.c.name, programs.c.id]
    else:
        raise ValueError("unknown sort: %s (machines or name)" % sort)
    total = conn.execute(sa.select(sa.func.count()).select_from(counted).where(*where)).scalar()
    rows = conn.execute(sa.select(programs.c.name, machine_count).select_from(counted)
                        .where(*where).order_by(*order).offset(offset).limit(limit)).fetchall()
    return {"total": total, "offset": offset, "limit": limit,
            "programs": [{"name": r[0], "machines": r[1]} for r in rows]}


def program_machines(conn: Connection, name: str, offset: int = 0, limit: int = 100,
                     sort: str = "name") -> ProgramMachines:
    """The machines that have the program of exactly this name now, sorted as
    list_machines sorts. Returns {"name", "total", "offset", "limit", "machines":
    [machine dicts as list_machines gives]}; total 0 for an unknown name."""
    offset, limit = window(offset, limit)
    p = conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first()
    if p is None:
        return {"name": name, "total": 0, "offset": offset, "limit": limit, "machines": []}
    joined = machines.join(machine_programs, machine_programs.c.machine_id == machines.c.id)
    where = machine_programs.c.program_id == p.id
    total = conn.execute(sa.select(sa.func.count()).select_from(joined).where(where)).scalar()
    rows = conn.execute(sa.select(machines).select_from(joined).where(where)
                        .order_by(*_machine_query(None, None, sort, None)[1])
                        .offset(offset).limit(limit)).fetchall()
    return {"name": name, "total": total, "offset": offset, "limit": limit,
            "machines": [_machine_dict(r) for r in rows]}


def fleet_summary(conn: Connection, silent_days: float = 7, top: int = 10, latest: int = 20,
                  now: Optional[datetime.datetime] = None) -> FleetSummary:
    """The fleet at a glance: {"machines", "records", "programs" (distinct
    names installed somewhere), "silent_days", "silent" (machines silent
    that long), "widespread": [{name, machines}] (top most installed),
    "latest_changes": [{record_id, received, machine, computer_name,
    program, added}] (newest first)}."""
    cutoff = (now or utcnow()) - datetime.timedelta(days=min(float(silent_days), MAX_DAYS))
    count = lambda table, *where: conn.execute(  # noqa: E731
        sa.select(sa.func.count()).select_from(table).where(*where)).scalar()
    counted, machine_count = _counted()
    widespread = conn.execute(
        sa.select(programs.c.name, machine_count).select_from(counted).where(machine_count > 0)
        .order_by(machine_count.desc(), programs.c.name).limit(top)).fetchall()
    latest_rows = conn.execute(
        sa.select(changes.c.record_id, changes.c.added, records.c.received, machines.c.machine_key,
                  machines.c.computer_name, programs.c.name)
        .select_from(changes_joined())
        .order_by(changes.c.id.desc()).limit(latest)).fetchall()
    return {
        "machines": count(machines),
        "records": _record_total(conn),
        "programs": count(counted, machine_count > 0),
        "silent_days": silent_days,
        "silent": count(machines, machines.c.last_seen <= cutoff),
        "widespread": [{"name": r[0], "machines": r[1]} for r in widespread],
        "latest_changes": [{"record_id": r.record_id, "received": iso(r.received),
                            "machine": r.machine_key, "computer_name": r.computer_name,
                            "program": r.name, "added": bool(r.added)} for r in latest_rows],
    }


def all_records(conn: Connection) -> Iterator[StoredRecord]:
    """Every record whole, oldest first, as get_record gives them (a
    generator: the dump reads them one by one)."""
    text_columns, joined = stored_texts.joined(records.join(machines, machines.c.id == records.c.machine_id))
    origin_column, joined = stored_texts.with_origin(joined)
    result = conn.execution_options(stream_results=True).execute(
        sa.select(records, machines.c.machine_key, *text_columns, origin_column).select_from(joined)
        .order_by(records.c.id))
    while True:
        chunk = result.fetchmany(1000)
        if not chunk:
            return
        for r in stored_texts.with_unmoved(conn, chunk):
            yield _record_dict(conn, r)


def iter_program_machines(conn: Connection, name: str, sort: str = "name") -> Iterator[Machine]:
    """Every machine program_machines would list over all its pages, in the
    same order, as a generator."""
    p = conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first()
    if p is None:
        return
    result = conn.execution_options(stream_results=True, yield_per=1000).execute(
        sa.select(machines)
        .select_from(machines.join(machine_programs, machine_programs.c.machine_id == machines.c.id))
        .where(machine_programs.c.program_id == p.id)
        .order_by(*_machine_query(None, None, sort, None)[1]))
    for row in result:
        yield _machine_dict(row)


def fleet_activity(conn: Connection, silent_days: float = 30, silent_limit: int = 15,
                   now: Optional[datetime.datetime] = None) -> FleetActivity:
    """How many machines reported in the last day and the last 7 days, and
    the machines silent for at least silent_days, the longest silent first
    (at most silent_limit): {"seen_day", "seen_week", "silent": [machine
    dicts]}."""
    now = now or utcnow()
    seen_since = lambda delta: conn.execute(  # noqa: E731
        sa.select(sa.func.count()).select_from(machines)
        .where(machines.c.last_seen > now - delta)).scalar()
    cutoff = now - datetime.timedelta(days=min(float(silent_days), MAX_DAYS))
    silent = conn.execute(sa.select(machines).where(machines.c.last_seen <= cutoff)
                          .order_by(machines.c.last_seen, machines.c.id).limit(silent_limit)).fetchall()
    return {"seen_day": seen_since(datetime.timedelta(days=1)),
            "seen_week": seen_since(datetime.timedelta(days=7)),
            "silent": [_machine_dict(r) for r in silent]}




def _memory_band():
    """The memory band of a machine as a CASE expression (NULL: unknown)."""
    return sa.case(*[((machines.c.memory_bytes < high * profile.GB) if high else (machines.c.memory_bytes >= low * profile.GB),
                      sa.literal(label)) for label, low, high in profile.MEMORY_BANDS], else_=sa.null())


BREAKDOWNS = {
    "os": lambda: [machines.c.os_name],
    "build": lambda: [machines.c.os_name, machines.c.os_build],
    "memory": lambda: [_memory_band()],
    "processor": lambda: [machines.c.cpu_name],
    "locale": lambda: [machines.c.locale],
    "timezone": lambda: [machines.c.time_zone],
}


def breakdown(conn: Connection, by: str) -> List[Dict[str, Any]]:
    """The machines in groups by one fact (a BREAKDOWNS key), the largest
    first: [{"value" (None: not known), "machines", "filter" (the list
    filters that give the group's machines, None for the unknown)}]. Memory
    goes in bands (profile.MEMORY_BANDS, in their order); build groups are
    of a Windows name and build."""
    if by not in BREAKDOWNS:
        raise ValueError("unknown breakdown: %s (one of %s)" % (by, ", ".join(BREAKDOWNS)))
    keys = [k.label("k%d" % i) for i, k in enumerate(BREAKDOWNS[by]())]
    n = sa.func.count().label("n")
    rows = conn.execute(sa.select(*keys, n).group_by(*keys)).fetchall()
    bands = [b[0] for b in profile.MEMORY_BANDS]
    if by == "memory":
        rows = sorted(rows, key=lambda r: bands.index(r[0]) if r[0] in bands else len(bands))
    else:
        rows = sorted(rows, key=lambda r: (-r[-1], [str(v) for v in r[:-1]]))
    out = []
    for r in rows:
        values = list(r[:-1])
        known = all(v is not None for v in values)
        if by == "build":
            value = " ".join(str(v) for v in values if v is not None) or None
            where = {"os": values[0], "build": values[1]} if known else None
        elif by == "memory":
            value = values[0]
            low, high = next(((lo, hi) for label, lo, hi in profile.MEMORY_BANDS if label == value), (0, 0))
            where = dict({"memory_from": low} if low else {}, **({"memory_below": high} if high else {})) \
                if known else None
        else:
            value = values[0]
            where = {"os": value} if by == "os" and known else {"processor": value} if by == "processor" and known \
                else None
        out.append({"value": value, "machines": r[-1], "filter": where})
    return out

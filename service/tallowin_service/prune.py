"""Removing old records: those received before a time, except each
machine's first and latest and every record that showed a change (so a
machine's history of programs added and removed stays whole and its pages
read as before), then the texts no record refers to any more.

Each batch is a transaction of its own, so records arrive and pages answer
meanwhile, and stopping at any point leaves nothing half done: running it
again goes on where it stopped.
"""

import datetime
from typing import Callable, Dict, Optional, Set

import sqlalchemy as sa

from . import stored_profiles
from .db import Engine, is_postgresql, utcnow, writing
from .ingest import _retryable
from .schema import REFERENCE_COLUMNS, TEXT_REFERENCES, changes, machines, records, shared_texts
from .stored_texts import TEXTS_LOCK

BATCH = 2000

# A machine's first record is kept too: prune reads the records in the order
# of their ids from the first, so the first it meets of each machine is that.
_KEPT = sa.or_(records.c.id == machines.c.last_record_id, sa.exists().where(changes.c.record_id == records.c.id))

_BATCH = (sa.select(records.c.id, records.c.machine_id, records.c.received, _KEPT.label("kept"))
          .select_from(records.join(machines, machines.c.id == records.c.machine_id))
          .where(records.c.id > sa.bindparam("after")).order_by(records.c.id).limit(sa.bindparam("n")))

# No record refers to the text: on PostgreSQL asked of the records_texts
# index (schema.text_reference_indexes), on SQLite of each column's.
_UNREFERENCED = {
    "postgresql": [sa.text("NOT EXISTS (SELECT 1 FROM records WHERE %s @> ARRAY[shared_texts.id])" % TEXT_REFERENCES)],
    "sqlite": [~sa.exists().where(records.c[column] == shared_texts.c.id) for column in REFERENCE_COLUMNS]}


def prune(engine: Engine, days: float, batch: int = BATCH, now: Optional[datetime.datetime] = None,
          progress: Callable[[Dict[str, int]], None] = lambda counts: None) -> Dict[str, int]:
    """Removes the records received more than DAYS ago but those kept, then
    the unreferenced texts; returns {"records", "machines", "kept", "texts"}
    removed (kept: older records kept), also given to PROGRESS after each
    batch."""
    cutoff = (now or utcnow()) - datetime.timedelta(days=days)
    counts = {"records": 0, "machines": 0, "kept": 0, "texts": 0}
    touched: Set[int] = set()
    seen: Set[int] = set()  # the machines whose first record was met
    after, done = 0, False
    while not done:
        rows = _retry(engine, lambda conn: conn.execute(_BATCH, {"after": after, "n": batch}).fetchall())
        # Records come in the order they arrived: the first one received
        # since the cutoff ends the search.
        old = [r for r in rows if r.received < cutoff]
        done = len(old) < len(rows) or len(rows) < batch
        gone = []
        for r in old:
            if not r.kept and r.machine_id in seen:
                gone.append(r)
            seen.add(r.machine_id)
        if gone:
            _retry(engine, lambda conn: _remove(conn, gone))
        counts["records"] += len(gone)
        counts["kept"] += len(old) - len(gone)
        touched.update(r.machine_id for r in gone)
        counts["machines"] = len(touched)
        after = rows[-1].id if rows else after
        progress(counts)
    after = 0
    while True:
        ids = _retry(engine, lambda conn: conn.execute(
            sa.select(shared_texts.c.id).where(shared_texts.c.id > after).order_by(shared_texts.c.id)
            .limit(batch)).scalars().all())
        if not ids:
            return counts
        counts["texts"] += _retry(engine, lambda conn: _sweep(conn, ids))
        after = ids[-1]
        progress(counts)


_COUNT = machines.update().where(machines.c.id.in_(sa.bindparam("machines", expanding=True))).values(
    record_count=machines.c.record_count - sa.select(sa.func.count()).where(
        records.c.machine_id == machines.c.id, records.c.id.in_(sa.bindparam("ids", expanding=True)))
    .scalar_subquery())
_DELETE = records.delete().where(records.c.id.in_(sa.bindparam("ids", expanding=True)))


# PostgreSQL counts the rows it removed: _COUNT would find each machine's
# records through records_machine, which holds no ids (all of a machine's
# rows read for each; prune took several times as long).
_REMOVE_PG = ("WITH gone AS (DELETE FROM records WHERE id = ANY(%(ids)s) RETURNING machine_id),"
              " n AS (SELECT machine_id, count(*) AS n FROM gone GROUP BY machine_id)"
              " UPDATE machines SET record_count = record_count - n.n FROM n WHERE machines.id = n.machine_id")


def _remove(conn, gone):
    # One statement for the batch's machines (thousands of them each day).
    ids = [r.id for r in gone]
    if is_postgresql(conn.engine):
        conn.exec_driver_sql(_REMOVE_PG, {"ids": ids})
        return
    conn.execute(_COUNT, {"machines": sorted({r.machine_id for r in gone}), "ids": ids})
    conn.execute(_DELETE, {"ids": ids})


def _sweep(conn, ids):
    """Removes those of the texts IDS that no record and no profile's list
    of sections refers to, then the sections of the lists it removed that
    none refers to any more (they come before their list: the sweep is past
    them). On PostgreSQL under the texts' exclusive lock: a record being
    stored may have found one of them (stored_texts)."""
    if is_postgresql(conn.engine):
        conn.exec_driver_sql("SELECT pg_advisory_xact_lock(%d)" % TEXTS_LOCK)
    removed = 0
    referencing = _UNREFERENCED["postgresql" if is_postgresql(conn.engine) else "sqlite"]
    while ids:
        unused = (shared_texts.c.id.in_(ids), *referencing, stored_profiles.unnamed(conn, ids))
        lists = conn.execute(sa.select(shared_texts.c.body).where(
            *unused, shared_texts.c.body.startswith(stored_profiles.MARK))).scalars().all()
        removed += conn.execute(shared_texts.delete().where(*unused)).rowcount
        ids = sorted({i for body in lists for i in stored_profiles.section_ids(body)})
    return removed


def _retry(engine, work, attempts=8):
    for attempt in range(attempts):
        try:
            with writing(engine) as conn, conn.begin():
                return work(conn)
        except sa.exc.DBAPIError as error:
            if attempt + 1 == attempts or not _retryable(error):
                raise
    raise AssertionError("unreachable")

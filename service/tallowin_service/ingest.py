"""One record in one transaction: keep it whole, attribute it to a machine,
bring the machine's current programs and the catalogue up to date, and write
the changes against the machine's previous record.

Concurrent records of one machine are put in order by a lock on its row
(PostgreSQL) or by SQLite's single writer (BEGIN IMMEDIATE), so each one is
compared with the record committed before it. Records of different machines
wait for nothing of each other's on PostgreSQL: the catalogue's counters they
share are added to by one record at a time, the others queue their changes
(PostgreSQLStatements.count).
"""

import collections
import logging
import secrets
import time

import sqlalchemy as sa
from sqlalchemy.dialects.sqlite import insert as sqlite_insert
from sqlalchemy.exc import DBAPIError, OperationalError

from . import store, texts
from .store import changes, machine_programs, machines, program_counts, programs, records

log = logging.getLogger(__name__)

Record = collections.namedtuple(
    "Record", "user_name adapter_address programs_text network_text processor_text")

CHUNK = 500
ATTEMPTS = 8
COUNTERS_LOCK = 7731501  # PostgreSQL's advisory lock of the programs' counters (7731500: upgrade)


def _chunks(items, size=CHUNK):
    for i in range(0, len(items), size):
        yield items[i:i + size]


def _retryable(error):
    """Deadlocks and serialisation failures (PostgreSQL) and a lock that
    outlasted the busy time-out (SQLite): the transaction was rolled back
    whole, so running it again is safe."""
    orig = getattr(error, "orig", None)
    code = getattr(orig, "pgcode", None)
    if code in ("40001", "40P01"):
        return True
    return isinstance(error, OperationalError) and "database is locked" in str(orig)


def ingest(engine, record, sender, received=None):
    """Stores one record in its own transaction and returns the new record's
    id. Retries a transaction the database rolled back for a deadlock."""
    record = Record(*[(t if t is not None else "") for t in record])
    received = received or store.utcnow()
    for attempt in range(ATTEMPTS):
        try:
            with store.writing(engine) as conn, conn.begin():
                return store_record(conn, record, received, sender)
        except DBAPIError as error:
            if attempt + 1 == ATTEMPTS or not _retryable(error):
                raise
            log.warning("record from %s: retrying after %s", sender, error.orig)
            time.sleep(0.05 * (attempt + 1))
    raise AssertionError("unreachable")


# The statements of a record, built once: only their parameters change, so
# SQLAlchemy compiles each once per dialect and a record costs little more
# than its round trips.
_in = lambda column, name: column.in_(sa.bindparam(name, expanding=True))  # noqa: E731

# The machine, its row locked for this transaction (SQLite has no row locks
# and needs none: its writer holds the whole database).
_LOCK_MACHINE = (
    sa.select(machines.c.id, machines.c.computer_name, machines.c.last_seen, machines.c.record_count,
              machines.c.program_count, machines.c.last_record_id)
    .where(machines.c.machine_key == sa.bindparam("key")).with_for_update())

# Its previous record's programs, read once the lock is held: a statement
# that waited for the lock sees the row as the other transaction left it,
# but a join in the same statement would still show the records as they
# were before (PostgreSQL re-reads only the locked row).
_PREVIOUS = sa.select(records.c.programs_text).where(records.c.id == sa.bindparam("record"))

_INSERT_RECORD = records.insert()

_UPDATE_MACHINE = machines.update().where(machines.c.id == sa.bindparam("machine")).values(
    adapter_address=sa.bindparam("u_address"), computer_name=sa.bindparam("u_name"),
    last_user=sa.bindparam("u_user"), last_seen=sa.bindparam("u_seen"),
    last_record_id=sa.bindparam("u_record"), processor=sa.bindparam("u_processor"),
    record_count=machines.c.record_count + 1, program_count=sa.bindparam("u_programs"))

_INSERT_MACHINE = {}


def _insert_machine(conn):
    """The insert of a new machine that does nothing when another
    transaction has just added it (each dialect has its own)."""
    name = conn.dialect.name
    if name not in _INSERT_MACHINE:
        if name == "postgresql":
            from sqlalchemy.dialects.postgresql import insert
        else:
            from sqlalchemy.dialects.sqlite import insert
        _INSERT_MACHINE[name] = insert(machines).on_conflict_do_nothing(index_elements=["machine_key"])
    return _INSERT_MACHINE[name]


class Statements:
    """The statements of a record past its machine's lock: the record, its
    machine's row, the machine's programs, the catalogue and its counters,
    with each name or id a parameter of its own (SQLite)."""

    _lookup = sa.select(programs.c.id, programs.c.name_hash).where(_in(programs.c.name_hash, "hashes"))
    _remove = machine_programs.delete().where(
        machine_programs.c.machine_id == sa.bindparam("machine"), _in(machine_programs.c.program_id, "ids"))
    _count = program_counts.update().where(_in(program_counts.c.program_id, "ids")).values(
        machine_count=program_counts.c.machine_count
        + sa.case((_in(program_counts.c.program_id, "added"), 1), else_=-1))

    _add_names = sqlite_insert(programs).on_conflict_do_nothing(index_elements=["name_hash"])
    _add_counts = sa.insert(program_counts).from_select(
        ["program_id", "machine_count"],
        sa.select(programs.c.id, sa.literal(0)).where(_in(programs.c.name_hash, "hashes"))
        .where(~sa.exists().where(program_counts.c.program_id == programs.c.id)))

    def add_record(self, conn, machine, record, received, sender, program_count, cut):
        """Stores the record and brings its machine's row up to date; returns
        the record's id and the programs text of the machine's previous
        record (None for its first)."""
        record_id = conn.execute(_INSERT_RECORD, _record_parameters(machine, record, received, sender, cut)
                                 ).inserted_primary_key[0]
        previous = None
        if machine.last_record_id is not None:
            previous = conn.execute(_PREVIOUS, {"record": machine.last_record_id}).scalar()
        conn.execute(_UPDATE_MACHINE, _machine_parameters(machine, record, record_id, received, program_count))
        return record_id, previous

    def lookup(self, conn, hashes):
        """{hash: id} of the names' hashes that are in the catalogue."""
        ids = {}
        for chunk in _chunks(hashes):
            ids.update((h, i) for i, h in conn.execute(self._lookup, {"hashes": chunk}))
        return ids

    def add_names(self, conn, hashes, names):
        """Adds the names (in this order) that are not in the catalogue yet,
        each with its counter at 0."""
        conn.execute(self._add_names, [{"name_hash": h, "name": n} for h, n in zip(hashes, names)])
        for chunk in _chunks(list(hashes)):
            conn.execute(self._add_counts, {"hashes": chunk})

    def apply(self, conn, machine, record, added, removed, deltas):
        """The machine's current programs lose the removed ids and gain the
        added ones; deltas, (id, added) pairs, are the record's changes."""
        for chunk in _chunks(removed):
            conn.execute(self._remove, {"machine": machine, "ids": chunk})
        if added:
            conn.execute(machine_programs.insert(), [{"machine_id": machine, "program_id": p} for p in added])
        if deltas:
            conn.execute(changes.insert(), [{"machine_id": machine, "record_id": record, "program_id": p,
                                             "added": a} for p, a in deltas])

    def count(self, conn, ids, added):
        """machine_count + 1 for the ids in added, - 1 for the others."""
        added = set(added)
        for chunk in _chunks(ids):
            conn.execute(self._count, {"ids": chunk, "added": [p for p in chunk if p in added]})


def _array(items):
    """An array literal of integers, booleans (t, f) or hex digests, passed
    as one text parameter: psycopg2 adapts a list element by element, which
    costs more than the statement's work for hundreds of them."""
    return "{" + ",".join(items) + "}"


class PostgreSQLStatements(Statements):
    """The same on PostgreSQL, in fewer round trips, with the names or ids as
    arrays: a machine's first record has hundreds of them, and one parameter
    a row costs the service more than the database's work."""

    def add_record(self, conn, machine, record, received, sender, program_count, cut):
        # The previous record is read in a statement that begins after the
        # machine's lock was granted, so it is the one committed last.
        parameters = _record_parameters(machine, record, received, sender, cut)
        parameters.update(_machine_parameters(machine, record, None, received, program_count))
        parameters["previous"] = machine.last_record_id
        row = conn.exec_driver_sql(
            "WITH added AS (INSERT INTO records (machine_id, received, sender, user_name, adapter_address,"
            " programs_text, network_text, processor_text, cut) VALUES (%(machine_id)s, %(received)s,"
            " %(sender)s, %(user_name)s, %(adapter_address)s, %(programs_text)s, %(network_text)s,"
            " %(processor_text)s, %(cut)s)"
            " RETURNING id),"
            " machine AS (UPDATE machines SET adapter_address = %(u_address)s, computer_name = %(u_name)s,"
            " last_user = %(u_user)s, last_seen = %(u_seen)s, last_record_id = (SELECT id FROM added),"
            " processor = %(u_processor)s, record_count = record_count + 1, program_count = %(u_programs)s"
            " WHERE id = %(machine)s)"
            " SELECT id, (SELECT programs_text FROM records WHERE id = %(previous)s) FROM added",
            parameters).one()
        return row[0], row[1]

    def lookup(self, conn, hashes):
        found = conn.exec_driver_sql(
            "SELECT string_agg(name_hash || ' ' || id, ',') FROM programs"
            " WHERE name_hash = ANY(%(h)s::text[])", {"h": _array(hashes)}).scalar()
        return {h: int(i) for h, i in (pair.split(" ") for pair in found.split(","))} if found else {}

    def add_names(self, conn, hashes, names):
        # Rows are inserted in the order of the hashes (ORDER BY), as
        # _program_ids wants.
        conn.exec_driver_sql(
            "WITH added AS (INSERT INTO programs (name_hash, name)"
            " SELECT h, n FROM unnest(%(h)s::text[], %(n)s::text[]) AS t(h, n) ORDER BY h"
            " ON CONFLICT (name_hash) DO NOTHING RETURNING id)"
            " INSERT INTO program_counts (program_id, machine_count) SELECT id, 0 FROM added",
            {"h": list(hashes), "n": list(names)})

    def apply(self, conn, machine, record, added, removed, deltas):
        conn.exec_driver_sql(
            "WITH removed AS (DELETE FROM machine_programs WHERE machine_id = %(m)s"
            " AND program_id = ANY(%(r)s::integer[])),"
            " added AS (INSERT INTO machine_programs (machine_id, program_id)"
            " SELECT %(m)s, unnest(%(a)s::integer[]))"
            " INSERT INTO changes (machine_id, record_id, program_id, added)"
            " SELECT %(m)s, %(record)s, p, a FROM unnest(%(p)s::integer[], %(pa)s::boolean[]) AS t(p, a)",
            {"m": machine, "record": record, "r": _array(map(str, removed)), "a": _array(map(str, added)),
             "p": _array(str(p) for p, _ in deltas), "pa": _array("t" if a else "f" for _, a in deltas)})

    def count(self, conn, ids, added):
        # One record at a time adds to the counters, the one that gets the
        # lock (not waiting for it): its own changes and those queued by the
        # records that found the lock taken, which queue theirs instead. No
        # record ever waits for another's counters, and a program's count,
        # what program_counts holds plus its queued changes, stays exact: the
        # queued rows a record takes and the counters it adds them to commit
        # together. (Taking rows that another record took and committed
        # after this statement began finds them gone and skips them.)
        added = set(added)
        conn.exec_driver_sql(
            "WITH turn AS MATERIALIZED (SELECT pg_try_advisory_xact_lock(%(lock)s) AS mine),"
            " own AS (SELECT p, d FROM unnest(%(p)s::integer[], %(d)s::integer[]) AS t(p, d)),"
            " queued AS (INSERT INTO program_count_queue (program_id, delta)"
            "  SELECT p, d FROM own WHERE NOT (SELECT mine FROM turn)),"
            " taken AS (DELETE FROM program_count_queue WHERE (SELECT mine FROM turn)"
            "  RETURNING program_id AS p, delta AS d),"
            " sums AS (SELECT p, sum(d) AS n FROM (SELECT p, d FROM taken UNION ALL"
            "  SELECT p, d FROM own WHERE (SELECT mine FROM turn)) AS changes GROUP BY p)"
            " UPDATE program_counts SET machine_count = machine_count + sums.n"
            " FROM sums WHERE program_counts.program_id = sums.p",
            {"lock": COUNTERS_LOCK, "p": _array(map(str, ids)),
             "d": _array("1" if p in added else "-1" for p in ids)})


_STATEMENTS = {"postgresql": PostgreSQLStatements()}


def _statements(conn):
    return _STATEMENTS.get(conn.dialect.name) or Statements()


def _program_ids(conn, added, removed):
    """The catalogue ids of the added names, adding the missing ones, and of
    the removed names, both sorted. Inserts run in the order of the names'
    hashes, so that two transactions adding overlapping names wait for each
    other instead of deadlocking."""
    statements = _statements(conn)
    by_hash = {store.name_hash(n): n for n in added}
    gone = [store.name_hash(n) for n in removed]
    ids = statements.lookup(conn, sorted(by_hash) + gone)  # most names are in the catalogue already
    missing = sorted(h for h in by_hash if h not in ids)
    if missing:
        statements.add_names(conn, missing, [by_hash[h] for h in missing])
        ids.update(statements.lookup(conn, missing))
    return sorted(ids[h] for h in by_hash), sorted(ids[h] for h in gone if h in ids)


def _machine(conn, key, record, received):
    """The machine row for key, created if new, locked for this transaction."""
    row = conn.execute(_LOCK_MACHINE, {"key": key}).first()
    if row is not None:
        return row
    conn.execute(_insert_machine(conn), {
        "machine_key": key, "adapter_address": texts.normal_address(record.adapter_address),
        "computer_name": _computer_name(record), "last_user": _user(record),
        "first_seen": received, "last_seen": received, "record_count": 0, "program_count": 0})
    return conn.execute(_LOCK_MACHINE, {"key": key}).one()


def store_record(conn, record, received, sender):
    """The work of ingest inside the caller's transaction; returns the
    record's id."""
    # A record with neither address nor computer name tells no PC: it gets
    # a machine of its own rather than joining every other such record.
    key = texts.machine_key(record.adapter_address, record.network_text) or "unknown:" + secrets.token_hex(8)
    machine = _machine(conn, key, record, received)
    new_names, names_cut = texts.capped_programs(record.programs_text)
    statements = _statements(conn)
    record_id, previous = statements.add_record(conn, machine, record, received, sender, len(new_names),
                                                _cut_fields(record, names_cut))
    if previous == record.programs_text:
        # The same programs as last time (most records): nothing to compare.
        return record_id

    # The machine's current programs are those of its previous record, so
    # the comparison is between the two texts; only the names that come or
    # go are looked up in the catalogue.
    old_names = texts.capped_programs(previous)[0]
    added, removed = _program_ids(conn, new_names - old_names, old_names - new_names)
    deltas = sorted([(p, True) for p in added] + [(p, False) for p in removed])
    if deltas:
        # The first record of a machine is its starting point, not a change.
        statements.apply(conn, machine.id, record_id, added, removed,
                         deltas if machine.record_count > 0 else [])
        # The counters last: their rows are shared by every machine that has
        # the program.
        statements.count(conn, [p for p, _ in deltas], added)
    return record_id


def _computer_name(record):
    return texts.cap(texts.computer_name(record.network_text), texts.CAPS["ComputerName"])


def _user(record):
    return texts.cap(record.user_name, texts.CAPS["UserName"])


def _cut_fields(record, names_cut):
    """The fields ingest took cut, as the record's "cut" list."""
    cut = []
    if len(record.user_name) > texts.CAPS["UserName"]:
        cut.append("UserName")
    if len(record.adapter_address.strip()) > texts.CAPS["AdapterAddress"]:
        cut.append("AdapterAddress")
    if names_cut:
        cut.append("ProgramsText")
    if len(texts.computer_name(record.network_text)) > texts.CAPS["ComputerName"]:
        cut.append("NetworkText")
    return ",".join(cut)


def _record_parameters(machine, record, received, sender, cut):
    return {"machine_id": machine.id, "received": received, "sender": sender or "",
            "user_name": record.user_name, "adapter_address": record.adapter_address,
            "programs_text": record.programs_text, "network_text": record.network_text,
            "processor_text": record.processor_text, "cut": cut}


def _machine_parameters(machine, record, record_id, received, program_count):
    name = _computer_name(record)
    return {"machine": machine.id, "u_address": texts.normal_address(record.adapter_address),
            "u_name": name if name else machine.computer_name, "u_user": _user(record),
            "u_seen": max(received, machine.last_seen), "u_record": record_id,
            "u_processor": texts.processor_summary(record.processor_text), "u_programs": program_count}

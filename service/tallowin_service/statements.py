"""The statements of one record past its machine's lock, one class per
database behind one interface (Statements): the record, its machine's row,
the machine's programs, the catalogue and its counters. ingest decides what
to write; these write it.

SQLiteStatements are SQLAlchemy Core with each name or id a parameter of its
own. PostgreSQLStatements are raw SQL in fewer round trips with the names or
ids as arrays (a machine's first record has hundreds of them, and one
parameter a row cost the service more than the database's work); they made
ingest three times faster. Their texts are in SQL so that a test can have
PostgreSQL check them against the tables.
"""

import abc
from typing import Any, Dict, Iterable, Iterator, Literal, Mapping, Optional, Sequence, Tuple, Union

import sqlalchemy as sa
from sqlalchemy.dialects.sqlite import insert as sqlite_insert

from .db import Connection, Prepared
from .schema import (REFERENCE_COLUMNS, changes, machine_programs, machines, program_counts, programs, records,
                     shared_texts)

CHUNK = 500
COUNTERS_LOCK = 7731501  # PostgreSQL's advisory lock of the programs' counters (7731500: upgrade)

Statement = Union[str, Any]  # raw SQL (PostgreSQL) or a Core construct


def _chunks(items: Sequence, size: int = CHUNK) -> Iterator[Sequence]:
    for i in range(0, len(items), size):
        yield items[i:i + size]


def _in(column, name):
    return column.in_(sa.bindparam(name, expanding=True))


class Statements(abc.ABC):
    """What ingest asks of a database. RECORD is the row of the records
    table; MACHINE the machine row's new values (u_... parameters, u_record
    filled in here) and its id ("machine")."""

    @abc.abstractmethod
    def add_record(self, conn: Connection, record: Dict[str, Any], machine: Dict[str, Any],
                   previous: Optional[int]) -> Tuple[int, Union[None, Literal[True], str]]:
        """Stores the record and brings its machine's row up to date; returns
        the record's id and the programs text of the record PREVIOUS: True
        when it is the new record's (the same text id), None when there is
        no such record."""

    @abc.abstractmethod
    def lookup(self, conn: Connection, hashes: Sequence[str]) -> Dict[str, int]:
        """{hash: id} of the names' hashes that are in the catalogue."""

    @abc.abstractmethod
    def add_names(self, conn: Connection, hashes: Sequence[str], names: Sequence[str]) -> None:
        """Adds the names (in the order of their hashes) that are not in the
        catalogue yet, each with its counter at 0."""

    @abc.abstractmethod
    def apply(self, conn: Connection, machine: int, record: int, added: Sequence[int],
              removed: Sequence[int], deltas: Sequence[Tuple[int, bool]]) -> None:
        """The machine's current programs lose the removed ids and gain the
        added ones; deltas, (id, added) pairs, are the record's changes."""

    @abc.abstractmethod
    def count(self, conn: Connection, ids: Sequence[int], added: Iterable[int]) -> None:
        """machine_count + 1 for the ids in added, - 1 for the others."""

    @classmethod
    def statements(cls) -> Mapping[str, Statement]:
        """Every statement by name (for the test that prepares them)."""
        return {}


# Built once: only their parameters change, so SQLAlchemy compiles each once
# and a record costs little more than its round trips.
_INSERT_RECORD = records.insert()

# The previous record's programs, read once the machine's lock is held: a
# statement that waited for the lock sees the row as the other transaction
# left it, but a join in the same statement would still show the records as
# they were before (PostgreSQL re-reads only the locked row).
_PREVIOUS = (sa.select(records.c.programs_id, shared_texts.c.body)
             .outerjoin(shared_texts, shared_texts.c.id == records.c.programs_id)
             .where(records.c.id == sa.bindparam("record")))

_UPDATE_MACHINE = machines.update().where(machines.c.id == sa.bindparam("machine")).values(
    adapter_address=sa.bindparam("u_address"), computer_name=sa.bindparam("u_name"),
    last_user=sa.bindparam("u_user"), last_seen=sa.bindparam("u_seen"),
    last_record_id=sa.bindparam("u_record"), processor=sa.bindparam("u_processor"),
    record_count=machines.c.record_count + 1, program_count=sa.bindparam("u_programs"))


class SQLiteStatements(Statements):
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
    _add_programs = machine_programs.insert()
    _add_changes = changes.insert()

    @classmethod
    def statements(cls):
        return {"insert_record": _INSERT_RECORD, "previous": _PREVIOUS, "update_machine": _UPDATE_MACHINE,
                "lookup": cls._lookup, "remove": cls._remove, "count": cls._count,
                "add_names": cls._add_names, "add_counts": cls._add_counts,
                "add_programs": cls._add_programs, "add_changes": cls._add_changes}

    def add_record(self, conn, record, machine, previous):
        record_id = conn.execute(_INSERT_RECORD, record).inserted_primary_key[0]
        text = None
        if previous is not None:
            # SQLite reads the text where it is: no cost in fetching it.
            text_id, text = conn.execute(_PREVIOUS, {"record": previous}).one()
            text = True if text_id == record["programs_id"] else text
        conn.execute(_UPDATE_MACHINE, dict(machine, u_record=record_id))
        return record_id, text

    def lookup(self, conn, hashes):
        ids: Dict[str, int] = {}
        for chunk in _chunks(hashes):
            ids.update((h, i) for i, h in conn.execute(self._lookup, {"hashes": chunk}))
        return ids

    def add_names(self, conn, hashes, names):
        conn.execute(self._add_names, [{"name_hash": h, "name": n} for h, n in zip(hashes, names)])
        for chunk in _chunks(list(hashes)):
            conn.execute(self._add_counts, {"hashes": chunk})

    def apply(self, conn, machine, record, added, removed, deltas):
        for chunk in _chunks(removed):
            conn.execute(self._remove, {"machine": machine, "ids": chunk})
        if added:
            conn.execute(self._add_programs, [{"machine_id": machine, "program_id": p} for p in added])
        if deltas:
            conn.execute(self._add_changes, [{"machine_id": machine, "record_id": record, "program_id": p,
                                              "added": a} for p, a in deltas])

    def count(self, conn, ids, added):
        added = set(added)
        for chunk in _chunks(ids):
            conn.execute(self._count, {"ids": chunk, "added": [p for p in chunk if p in added]})


def _array(items: Iterable[str]) -> str:
    """An array literal of integers, booleans (t, f) or hex digests, passed
    as one text parameter: psycopg2 adapts a list element by element, which
    costs more than the statement's work for hundreds of them."""
    return "{" + ",".join(items) + "}"


class PostgreSQLStatements(Statements):
    # The previous record is read in a statement that begins after the
    # machine's lock was granted, so it is the one committed last.
    ADD_RECORD = (
        "WITH added AS (INSERT INTO records (machine_id, received, sender, user_name, adapter_address, cut, secret_name,"
        " volatile_values, "
        + ", ".join(REFERENCE_COLUMNS) + ") VALUES (%(machine_id)s, %(received)s,"
        " %(sender)s, %(user_name)s, %(adapter_address)s, %(cut)s, %(secret_name)s, %(volatile_values)s, "
        + ", ".join("%%(%s)s" % column for column in REFERENCE_COLUMNS) + ") RETURNING id),"
        " machine AS (UPDATE machines SET adapter_address = %(u_address)s, computer_name = %(u_name)s,"
        " last_user = %(u_user)s, last_seen = %(u_seen)s, last_record_id = (SELECT id FROM added),"
        " processor = %(u_processor)s, record_count = record_count + 1, program_count = %(u_programs)s"
        " WHERE id = %(machine)s)"
        " SELECT added.id, p.programs_id = %(programs_id)s, CASE WHEN p.programs_id <> %(programs_id)s THEN"
        " (SELECT body FROM shared_texts WHERE id = p.programs_id) END FROM added"
        " LEFT JOIN records p ON p.id = %(previous)s")
    LOOKUP = ("SELECT string_agg(name_hash || ' ' || id, ',') FROM programs"
              " WHERE name_hash = ANY(%(h)s::text[])")
    # Rows are inserted in the order of the hashes (ORDER BY), as ingest's
    # _program_ids wants.
    ADD_NAMES = (
        "WITH added AS (INSERT INTO programs (name_hash, name)"
        " SELECT h, n FROM unnest(%(h)s::text[], %(n)s::text[]) AS t(h, n) ORDER BY h"
        " ON CONFLICT (name_hash) DO NOTHING RETURNING id)"
        " INSERT INTO program_counts (program_id, machine_count) SELECT id, 0 FROM added")
    APPLY = (
        "WITH removed AS (DELETE FROM machine_programs WHERE machine_id = %(m)s"
        " AND program_id = ANY(%(r)s::integer[])),"
        " added AS (INSERT INTO machine_programs (machine_id, program_id)"
        " SELECT %(m)s, unnest(%(a)s::integer[]))"
        " INSERT INTO changes (machine_id, record_id, program_id, added)"
        " SELECT %(m)s, %(record)s, p, a FROM unnest(%(p)s::integer[], %(pa)s::boolean[]) AS t(p, a)")
    # One record at a time adds to the counters, the one that gets the lock
    # (not waiting for it): its own changes and those queued by the records
    # that found the lock taken, which queue theirs instead. No record ever
    # waits for another's counters, and a program's count, what
    # program_counts holds plus its queued changes, stays exact: the queued
    # rows a record takes and the counters it adds them to commit together.
    # (Taking rows that another record took and committed after this
    # statement began finds them gone and skips them.)
    COUNT = (
        "WITH turn AS MATERIALIZED (SELECT pg_try_advisory_xact_lock(%(lock)s) AS mine),"
        " own AS (SELECT p, d FROM unnest(%(p)s::integer[], %(d)s::integer[]) AS t(p, d)),"
        " queued AS (INSERT INTO program_count_queue (program_id, delta)"
        "  SELECT p, d FROM own WHERE NOT (SELECT mine FROM turn)),"
        " taken AS (DELETE FROM program_count_queue WHERE (SELECT mine FROM turn)"
        "  RETURNING program_id AS p, delta AS d),"
        " sums AS (SELECT p, sum(d) AS n FROM (SELECT p, d FROM taken UNION ALL"
        "  SELECT p, d FROM own WHERE (SELECT mine FROM turn)) AS changes GROUP BY p)"
        " UPDATE program_counts SET machine_count = machine_count + sums.n"
        " FROM sums WHERE program_counts.program_id = sums.p")

    @classmethod
    def statements(cls):
        return {"add_record": cls.ADD_RECORD, "lookup": cls.LOOKUP, "add_names": cls.ADD_NAMES,
                "apply": cls.APPLY, "count": cls.COUNT}

    def __init__(self):
        # Planned once a connection: planning these cost the server about as
        # much as running them. The others are planned for each call: made
        # for arrays of any length, the catalogue's look-up took ten times
        # as long.
        self._prepared = {name: Prepared("tallowin_" + name, getattr(self, name.upper()))
                          for name in ("add_record", "count")}

    def add_record(self, conn, record, machine, previous):
        row = self._prepared["add_record"].run(conn, dict(record, **machine, previous=previous)).one()
        return row[0], True if row[1] else row[2]

    def lookup(self, conn, hashes):
        found = conn.exec_driver_sql(self.LOOKUP, {"h": _array(hashes)}).scalar()
        return {h: int(i) for h, i in (pair.split(" ") for pair in found.split(","))} if found else {}

    def add_names(self, conn, hashes, names):
        conn.exec_driver_sql(self.ADD_NAMES, {"h": list(hashes), "n": list(names)})

    def apply(self, conn, machine, record, added, removed, deltas):
        conn.exec_driver_sql(self.APPLY, {
            "m": machine, "record": record, "r": _array(map(str, removed)), "a": _array(map(str, added)),
            "p": _array(str(p) for p, _ in deltas), "pa": _array("t" if a else "f" for _, a in deltas)})

    def count(self, conn, ids, added):
        added = set(added)
        self._prepared["count"].run(conn, {"lock": COUNTERS_LOCK, "p": _array(map(str, ids)),
                                           "d": _array("1" if p in added else "-1" for p in ids)})


_BY_DIALECT: Dict[str, Statements] = {"postgresql": PostgreSQLStatements(), "sqlite": SQLiteStatements()}


def statements_for(conn: Connection) -> Statements:
    """The statements of the connection's database."""
    return _BY_DIALECT.get(conn.dialect.name) or _BY_DIALECT["sqlite"]

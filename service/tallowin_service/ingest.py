"""One record in one transaction: keep it whole, attribute it to a machine,
bring the machine's current programs and the catalogue up to date, and write
the changes against the machine's previous record.

Concurrent records of one machine are put in order by a lock on its row
(PostgreSQL) or by SQLite's single writer (BEGIN IMMEDIATE), so each one is
compared with the record committed before it. Records of different machines
wait for nothing of each other's on PostgreSQL: the catalogue's counters they
share are added to by one record at a time, the others queue their changes
(statements.PostgreSQLStatements.COUNT).
"""

import datetime
import logging
import secrets
import time
from typing import NamedTuple, Optional, Sequence

import sqlalchemy as sa
from sqlalchemy.exc import DBAPIError, OperationalError

from . import stored_texts, texts
from .db import Connection, Engine, insert_ignoring, utcnow, writing
from .schema import TEXT_KINDS, machines, name_hash
from .statements import statements_for

log = logging.getLogger(__name__)

# The SOAP operation's parameters, in order: the fields of a Record.
FIELDS = ("UserName", "AdapterAddress", "ProgramsText", "NetworkText", "ProcessorText")


class Record(NamedTuple):
    user_name: str
    adapter_address: str
    programs_text: str
    network_text: str
    processor_text: str

ATTEMPTS = 8


def _retryable(error):
    """Deadlocks and serialisation failures (PostgreSQL) and a lock that
    outlasted the busy time-out (SQLite): the transaction was rolled back
    whole, so running it again is safe."""
    orig = getattr(error, "orig", None)
    code = getattr(orig, "pgcode", None)
    if code in ("40001", "40P01"):
        return True
    return isinstance(error, OperationalError) and "database is locked" in str(orig)


def ingest(engine: Engine, record: Sequence[Optional[str]], sender: str,
           received: Optional[datetime.datetime] = None) -> int:
    """Stores one record in its own transaction and returns the new record's
    id. Retries a transaction the database rolled back for a deadlock."""
    record = Record(*[(t if t is not None else "") for t in record])
    received = received or utcnow()
    for attempt in range(ATTEMPTS):
        try:
            with writing(engine) as conn, conn.begin():
                return store_record(conn, record, received, sender)
        except DBAPIError as error:
            if attempt + 1 == ATTEMPTS or not _retryable(error):
                raise
            log.warning("record from %s: retrying after %s", sender, error.orig)
            time.sleep(0.05 * (attempt + 1))
    raise AssertionError("unreachable")


# The machine, its row locked for this transaction (SQLite has no row locks
# and needs none: its writer holds the whole database).
_LOCK_MACHINE = (
    sa.select(machines.c.id, machines.c.computer_name, machines.c.last_seen, machines.c.record_count,
              machines.c.program_count, machines.c.last_record_id)
    .where(machines.c.machine_key == sa.bindparam("key")).with_for_update())


def _program_ids(conn, added, removed):
    """The catalogue ids of the added names, adding the missing ones, and of
    the removed names, both sorted. Inserts run in the order of the names'
    hashes, so that two transactions adding overlapping names wait for each
    other instead of deadlocking."""
    statements = statements_for(conn)
    by_hash = {name_hash(n): n for n in added}
    gone = [name_hash(n) for n in removed]
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
    conn.execute(insert_ignoring(conn, machines, "machine_key"), {
        "machine_key": key, "adapter_address": texts.normal_address(record.adapter_address),
        "computer_name": _computer_name(record), "last_user": _user(record),
        "first_seen": received, "last_seen": received, "record_count": 0, "program_count": 0})
    return conn.execute(_LOCK_MACHINE, {"key": key}).one()


def store_record(conn: Connection, record: Record, received: datetime.datetime, sender: str) -> int:
    """The work of ingest inside the caller's transaction; returns the
    record's id."""
    # A record with neither address nor computer name tells no PC: it gets
    # a machine of its own rather than joining every other such record.
    key = texts.machine_key(record.adapter_address, record.network_text) or "unknown:" + secrets.token_hex(8)
    text_ids = stored_texts.text_ids(conn, {kind: getattr(record, kind + "_text") for kind, _ in TEXT_KINDS})
    machine = _machine(conn, key, record, received)
    new_names, names_cut = texts.capped_programs(record.programs_text)
    statements = statements_for(conn)
    row = dict(_record_row(machine, record, received, sender, _cut_fields(record, names_cut)),
               **{kind + "_id": i for kind, i in text_ids.items()})
    record_id, previous = statements.add_record(
        conn, row, _machine_values(machine, record, received, len(new_names)), machine.last_record_id)
    if previous is True or previous == record.programs_text:
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


def _record_row(machine, record, received, sender, cut):
    return {"machine_id": machine.id, "received": received, "sender": sender or "",
            "user_name": record.user_name, "adapter_address": record.adapter_address, "cut": cut}


def _machine_values(machine, record, received, program_count):
    name = _computer_name(record)
    return {"machine": machine.id, "u_address": texts.normal_address(record.adapter_address),
            "u_name": name if name else machine.computer_name, "u_user": _user(record),
            "u_seen": max(received, machine.last_seen), "u_record": None,
            "u_processor": texts.processor_summary(record.processor_text), "u_programs": program_count}

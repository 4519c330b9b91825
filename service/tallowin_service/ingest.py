"""One record in one transaction: keep it whole, attribute it to a machine,
bring the machine's current programs and the catalogue up to date, and write
the changes against the machine's previous record.

Concurrent records of one machine are put in order by a lock on its row
(PostgreSQL) or by SQLite's single writer (BEGIN IMMEDIATE), so each one is
compared with the record committed before it.
"""

import collections
import logging
import time

import sqlalchemy as sa
from sqlalchemy.exc import DBAPIError, OperationalError

from . import store, texts
from .store import changes, machine_programs, machines, programs, records

log = logging.getLogger(__name__)

Record = collections.namedtuple(
    "Record", "user_name adapter_address programs_text network_text processor_text")

CHUNK = 500
ATTEMPTS = 8


def _insert(conn, table):
    if conn.dialect.name == "postgresql":
        from sqlalchemy.dialects.postgresql import insert
    else:
        from sqlalchemy.dialects.sqlite import insert
    return insert(table)


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


def _program_ids(conn, names):
    """The catalogue ids of these distinct names, adding the missing ones.
    Inserts run in the order of the names' hashes, so that two transactions
    adding overlapping names wait for each other instead of deadlocking."""
    by_hash = {store.name_hash(n): n for n in names}
    hashes = sorted(by_hash)
    ids = {}
    for chunk in _chunks(hashes):
        # Most names are in the catalogue already: look first, add the rest.
        for row in conn.execute(sa.select(programs.c.id, programs.c.name_hash)
                                .where(programs.c.name_hash.in_(chunk))):
            ids[row.name_hash] = row.id
        missing = [h for h in chunk if h not in ids]
        if missing:
            conn.execute(_insert(conn, programs).on_conflict_do_nothing(index_elements=["name_hash"]),
                         [{"name_hash": h, "name": by_hash[h], "machine_count": 0} for h in missing])
            for row in conn.execute(sa.select(programs.c.id, programs.c.name_hash)
                                    .where(programs.c.name_hash.in_(missing))):
                ids[row.name_hash] = row.id
    return [ids[h] for h in hashes]


def _existing_ids(conn, names):
    """The catalogue ids of names that are in it."""
    ids = []
    for chunk in _chunks([store.name_hash(n) for n in names]):
        ids += conn.execute(sa.select(programs.c.id).where(programs.c.name_hash.in_(chunk))).scalars().all()
    return ids


def _machine(conn, key, record, received):
    """The machine row for key, created if new, locked for this transaction."""
    conn.execute(_insert(conn, machines).on_conflict_do_nothing(index_elements=["machine_key"]).values(
        machine_key=key, adapter_address=record.adapter_address,
        computer_name=texts.computer_name(record.network_text), last_user=record.user_name,
        first_seen=received, last_seen=received, record_count=0, program_count=0))
    return conn.execute(sa.select(machines).where(machines.c.machine_key == key)
                        .with_for_update()).one()


def store_record(conn, record, received, sender):
    """The work of ingest inside the caller's transaction; returns the
    record's id."""
    key = texts.machine_key(record.adapter_address, record.network_text)
    machine = _machine(conn, key, record, received)
    record_id = conn.execute(records.insert().values(
        machine_id=machine.id, received=received, sender=sender or "",
        user_name=record.user_name, adapter_address=record.adapter_address,
        programs_text=record.programs_text, network_text=record.network_text,
        processor_text=record.processor_text)).inserted_primary_key[0]

    previous = None
    if machine.last_record_id is not None:
        previous = conn.execute(sa.select(records.c.programs_text)
                                .where(records.c.id == machine.last_record_id)).scalar()
    if previous == record.programs_text:
        # The same programs as last time (most records): nothing to compare.
        _update_machine(conn, machine, record, record_id, received, machine.program_count)
        return record_id

    # The machine's current programs are those of its previous record, so
    # the comparison is between the two texts; only the names that come or
    # go are looked up in the catalogue.
    new_names = set(texts.programs(record.programs_text))
    old_names = set(texts.programs(previous)) if previous is not None else set()
    added = sorted(_program_ids(conn, sorted(new_names - old_names)))
    removed = sorted(_existing_ids(conn, sorted(old_names - new_names)))
    # The counters' rows are locked in id order first, the same order in
    # every transaction, so two records that touch the same programs wait
    # for each other instead of deadlocking. FOR NO KEY UPDATE (what the
    # UPDATE itself takes) does not conflict with the key-share locks that
    # other transactions' foreign keys to these rows hold.
    deltas = sorted([(p, 1) for p in added] + [(p, -1) for p in removed])
    if deltas and conn.dialect.name == "postgresql":
        for chunk in _chunks([p for p, _ in deltas]):
            conn.execute(sa.select(programs.c.id).where(programs.c.id.in_(chunk))
                         .order_by(programs.c.id).with_for_update(key_share=True)).fetchall()
    for ids, delta in ((added, 1), (removed, -1)):
        for chunk in _chunks(ids):
            conn.execute(programs.update().where(programs.c.id.in_(chunk))
                         .values(machine_count=programs.c.machine_count + delta))
    for chunk in _chunks(removed):
        conn.execute(machine_programs.delete().where(machine_programs.c.machine_id == machine.id,
                                                     machine_programs.c.program_id.in_(chunk)))
    if added:
        conn.execute(machine_programs.insert(),
                     [{"machine_id": machine.id, "program_id": p} for p in added])
    # The first record of a machine is its starting point, not a change.
    if machine.record_count > 0 and deltas:
        conn.execute(changes.insert(),
                     [{"machine_id": machine.id, "record_id": record_id, "program_id": p,
                       "added": d > 0} for p, d in deltas])

    _update_machine(conn, machine, record, record_id, received, len(new_names))
    return record_id


def _update_machine(conn, machine, record, record_id, received, program_count):
    name = texts.computer_name(record.network_text)
    conn.execute(machines.update().where(machines.c.id == machine.id).values(
        adapter_address=record.adapter_address,
        computer_name=name if name else machine.computer_name,
        last_user=record.user_name,
        last_seen=max(received, machine.last_seen),
        last_record_id=record_id,
        processor=texts.processor_summary(record.processor_text),
        record_count=machines.c.record_count + 1,
        program_count=program_count))

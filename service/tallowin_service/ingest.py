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

from . import profile, steady, stored_profiles, stored_texts, texts
from .db import Connection, Engine, Prepared, insert_ignoring, utcnow, writing
from .schema import TEXT_KINDS, machine_network_names, machines, name_hash, records
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
           received: Optional[datetime.datetime] = None, secret_name: Optional[str] = None) -> int:
    """Stores one record in its own transaction and returns the new record's
    id. Retries a transaction the database rolled back for a deadlock.
    SECRET_NAME: the enrollment secret it came with."""
    record = Record(*[(t if t is not None else "") for t in record])
    received = received or utcnow()
    return _transaction(engine, sender, lambda conn: store_record(conn, record, received, sender, secret_name))


def _transaction(engine, sender, work):
    """WORK(conn) in a transaction of its own, run again when the database
    rolled it back for a deadlock."""
    for attempt in range(ATTEMPTS):
        try:
            with writing(engine) as conn, conn.begin():
                return work(conn)
        except DBAPIError as error:
            if attempt + 1 == ATTEMPTS or not _retryable(error):
                raise
            log.warning("record from %s: retrying after %s", sender, error.orig)
            time.sleep(0.05 * (attempt + 1))
    raise AssertionError("unreachable")


# How long after its record a profile still belongs to it: the PC collects
# the profile between the two calls (a slow PC with many programs takes a
# while).
PROFILE_WINDOW = datetime.timedelta(minutes=15)


class NoRecordForProfile(Exception):
    """The profile names no PC whose latest record came from the same user
    within PROFILE_WINDOW."""


# The PC's latest record and the facts it shows now, its row locked (as in
# store_record); built once, as are the two updates.
_ORIGIN, _WITH_ORIGIN = stored_texts.with_origin(machines.join(records, records.c.id == machines.c.last_record_id))
_PROFILE_TARGET = (
    sa.select(machines.c.id, machines.c.last_record_id, *[records.c[f] for f in stored_texts.Origin._fields],
              _ORIGIN, records.c.received, records.c.profile_id, records.c.volatile_values,
              *[machines.c[c] for c in profile.FACT_COLUMNS])
    .select_from(_WITH_ORIGIN)
    .where(machines.c.machine_key == sa.bindparam("key")).with_for_update(of=machines))
# On PostgreSQL the same in the round trip that stores the profile's texts
# (stored_profiles.STORE_PG_WITH; the texts lock still comes first): LISTED is
# the profile's id.
_PROFILE_TARGET_PG = Prepared("tallowin_profile_target", stored_profiles.STORE_PG_WITH + (
    " SELECT (SELECT id FROM listed) AS listed, m.id, m.last_record_id, "
    + ", ".join("r." + f for f in stored_texts.Origin._fields) + ", o.body AS origin_text, r.received,"
    " r.profile_id, r.volatile_values, " + ", ".join("m." + c for c in profile.FACT_COLUMNS)
    + " FROM machines m JOIN records r ON r.id = m.last_record_id LEFT JOIN shared_texts o ON o.id = r.origin_id"
    " WHERE m.machine_key = %(key)s FOR UPDATE OF m"),
    stored_texts.TEXTS_PG_LOCK)
_SET_PROFILE = Prepared("tallowin_set_profile", records.update().where(records.c.id == sa.bindparam("record"))
                        .values(profile_id=sa.bindparam("profile"), volatile_values=sa.bindparam("values")))
_SET_FACTS = machines.update().where(machines.c.id == sa.bindparam("machine")).values(
    {c: sa.bindparam("f_" + c) for c in profile.FACT_COLUMNS})


def ingest_profile(engine: Engine, user_name: Optional[str], adapter_address: Optional[str],
                   profile_text: Optional[str], sender: str, received: Optional[datetime.datetime] = None) -> int:
    """Keeps a complete profile with the latest record of its PC (the one of
    the same exchange) and brings the PC's facts up to date; returns that
    record's id. Raises NoRecordForProfile when there is no such record."""
    user_name, profile_text = user_name or "", profile_text or ""
    now = received or utcnow()
    key = texts.usable_address(adapter_address)
    if key is None:
        # The computer name from the network section only: a program's name
        # may read like any label.
        network = dict(profile.sections(profile_text)).get("Network", [])
        key = texts.machine_key(None, "".join(line + texts.SEPARATOR for line in network))
    facts = profile.facts(profile_text)
    kept, values = steady.split(profile_text)

    on_postgresql = engine.dialect.name == "postgresql"
    parameters = dict(stored_profiles.pg_parameters(kept), key=key) if on_postgresql else {}

    def work(conn):
        # The text first: the texts lock comes before any row lock.
        if on_postgresql:
            row = _PROFILE_TARGET_PG.run(conn, parameters).first()
            profile_id = row.listed if row is not None else None
        else:
            profile_id = stored_profiles.store(conn, kept)
            row = conn.execute(_PROFILE_TARGET, {"key": key}).first() if key else None
        if (row is None or stored_texts.origin(row).user_name != user_name
                or not now - PROFILE_WINDOW <= row.received <= now):
            raise NoRecordForProfile("no record of this PC from %s in the last %d minutes: send "
                                     "setSaveSoftwareInformation first" % (user_name or "this user",
                                                                           PROFILE_WINDOW.seconds // 60))
        column = steady.with_profile(row.volatile_values, values)
        if row.profile_id != profile_id or row.volatile_values != column:
            _SET_PROFILE.run_anywhere(conn, {"record": row.last_record_id, "profile": profile_id, "values": column})
        # Day to day a PC's facts stay the same while its profile's counters
        # move: then the machine's row (and its indexes) stays untouched.
        if any(getattr(row, c) != facts[c] for c in profile.FACT_COLUMNS):
            conn.execute(_SET_FACTS, dict({"f_" + c: v for c, v in facts.items()}, machine=row.id))
        return row.last_record_id

    return _transaction(engine, sender, work)


# The machine, its row locked for this transaction (SQLite has no row locks
# and needs none: its writer holds the whole database).
_LOCK_MACHINE = Prepared("tallowin_lock_machine", sa.select(
    machines.c.id, machines.c.computer_name, machines.c.last_seen, machines.c.record_count,
    machines.c.program_count, machines.c.last_record_id)
    .where(machines.c.machine_key == sa.bindparam("key")).with_for_update())


def _locked_machine(conn, key):
    return _LOCK_MACHINE.run_anywhere(conn, {"key": key}).first()


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
    row = _locked_machine(conn, key)
    if row is not None:
        return row
    conn.execute(insert_ignoring(conn, machines, "machine_key"), {
        "machine_key": key, "adapter_address": texts.normal_address(record.adapter_address),
        "computer_name": _computer_name(record), "last_user": _user(record),
        "first_seen": received, "last_seen": received, "record_count": 0, "program_count": 0})
    row = _locked_machine(conn, key)
    assert row is not None
    return row


def store_record(conn: Connection, record: Record, received: datetime.datetime, sender: str,
                 secret_name: Optional[str] = None) -> int:
    """The work of ingest inside the caller's transaction; returns the
    record's id."""
    # A record with neither address nor computer name tells no PC: it gets
    # a machine of its own rather than joining every other such record.
    key = texts.machine_key(record.adapter_address, record.network_text) or "unknown:" + secrets.token_hex(8)
    kept, values = steady.split_texts({kind: getattr(record, kind + "_text", None) for kind, _ in TEXT_KINDS})
    kept["origin"] = stored_texts.origin_text(
        stored_texts.Origin(sender or "", record.user_name, record.adapter_address, secret_name))
    text_ids = stored_texts.text_ids(conn, kept)
    machine = _machine(conn, key, record, received)
    new_names, names_cut = texts.capped_programs(record.programs_text)
    statements = statements_for(conn)
    row = dict(_record_row(machine, received, _cut_fields(record, names_cut)),
               volatile_values=values, **{kind + "_id": i for kind, i in text_ids.items()})
    record_id, previous = statements.add_record(
        conn, row, _machine_values(machine, record, received, len(new_names)), machine.last_record_id)
    if previous is None and machine.last_record_id is not None:  # a record an upgrade has not moved yet
        previous = stored_texts.unmoved(conn, [machine.last_record_id]).get(machine.last_record_id, {}).get(
            "programs_text")
    set_network_names(conn, machine.id, texts.network_names(record.network_text, record.adapter_address))
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


_NETWORK_NAMES = Prepared("tallowin_network_names", sa.select(machine_network_names.c.value).where(
    machine_network_names.c.machine_id == sa.bindparam("machine")).order_by(machine_network_names.c.value))


def set_network_names(conn: Connection, machine_id: int, names: Sequence[str]) -> None:
    """The machine's searchable addresses and DNS names become names (most
    records bring the same ones: then nothing is written)."""
    table = machine_network_names
    kept = _NETWORK_NAMES.run_anywhere(conn, {"machine": machine_id}).scalars().all()
    if list(kept) == list(names):
        return
    conn.execute(table.delete().where(table.c.machine_id == machine_id))
    if names:
        conn.execute(table.insert(), [{"machine_id": machine_id, "value": v} for v in names])


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


def _record_row(machine, received, cut):
    # The origin's own columns stay empty: its text (origin_id) holds it.
    return {"machine_id": machine.id, "received": received, "sender": "", "secret_name": None,
            "user_name": "", "adapter_address": "", "cut": cut}


def _machine_values(machine, record, received, program_count):
    name = _computer_name(record)
    return {"machine": machine.id, "u_address": texts.normal_address(record.adapter_address),
            "u_name": name if name else machine.computer_name, "u_user": _user(record),
            "u_seen": max(received, machine.last_seen), "u_record": None,
            "u_processor": texts.processor_summary(record.processor_text), "u_programs": program_count}

"""Bringing a database up to schema.SCHEMA_VERSION: each older version's
upgrade, applied in order from the version found."""

import datetime
import logging
from typing import Any, Dict

import sqlalchemy as sa

from . import ingest, texts
from .profile import FACT_COLUMNS
from .db import Engine, is_postgresql, writing
from .schema import (PROFILE_INDEXES, SCHEMA_VERSION, changes, machine_network_names, machine_programs, machines,
                     metadata, name_hash,
                     program_count_queue, program_counts, programs, records, schema_version)


def upgrade(engine: Engine) -> int:
    """Creates the tables of a new database or brings an older one up to
    SCHEMA_VERSION; returns the version found (0: new)."""
    with writing(engine) as conn, conn.begin():
        if is_postgresql(engine):
            # Two processes starting at once must not both create the tables.
            conn.exec_driver_sql("SELECT pg_advisory_xact_lock(7731500)")
        inspector = sa.inspect(conn)
        found = 0
        if inspector.has_table("schema_version"):
            found = conn.execute(sa.select(sa.func.max(schema_version.c.version))).scalar() or 0
        elif inspector.has_table("records"):
            found = 1  # the first layout: records alone
        if found > SCHEMA_VERSION:
            raise RuntimeError("the database has schema version %d; this service knows up to %d"
                               % (found, SCHEMA_VERSION))
        version = found
        while 0 < version < SCHEMA_VERSION:
            step, version = UPGRADES[version]
            step(conn)
        metadata.create_all(conn)
        if is_postgresql(engine):
            _trigram_indexes(conn)
        if found == 0:
            conn.execute(schema_version.insert().values(version=SCHEMA_VERSION))
        elif found < SCHEMA_VERSION:
            conn.execute(schema_version.delete())
            conn.execute(schema_version.insert().values(version=SCHEMA_VERSION))
        return found


TRIGRAM_INDEXES = {
    "machines_computer_name_trgm": ("machines", "computer_name"),
    "machines_adapter_address_trgm": ("machines", "adapter_address"),
    "machines_last_user_trgm": ("machines", "last_user"),
    "programs_name_trgm": ("programs", "name"),
}


def _trigram_indexes(conn):
    """On PostgreSQL, trigram indexes for the searches by a part of a name
    (ILIKE '%...%' reads every row without them). pg_trgm comes with Debian's
    postgresql and a database owner may add it; where it cannot be added the
    searches still work, only slower."""
    try:
        with conn.begin_nested():
            conn.exec_driver_sql("CREATE EXTENSION IF NOT EXISTS pg_trgm")
            for name, (table, column) in TRIGRAM_INDEXES.items():
                conn.exec_driver_sql("CREATE INDEX IF NOT EXISTS %s ON %s USING gin (%s gin_trgm_ops)"
                                     % (name, table, column))
    except sa.exc.DBAPIError as error:
        logging.getLogger(__name__).warning("no trigram indexes (searches will be slower): %s", error.orig)


def _upgrade_from_1(conn):
    """Version 1 kept records alone (received as text, no machines): move them
    aside, create the tables, then ingest each old record in order so that
    machines, programs and changes exist for them too."""
    conn.exec_driver_sql("ALTER TABLE records RENAME TO records_v1")
    metadata.create_all(conn)
    old = conn.exec_driver_sql(
        "SELECT received, user_name, adapter_address, programs_text, network_text,"
        " processor_text FROM records_v1 ORDER BY id").fetchall()
    for row in old:
        received = _parse_time(row[0])
        ingest.store_record(conn, ingest.Record(*row[1:]), received, "")
    conn.exec_driver_sql("DROP TABLE records_v1")


def _upgrade_from_2(conn):
    """Version 2 had no processor summary: add it, from each machine's latest
    record."""
    conn.exec_driver_sql("ALTER TABLE machines ADD COLUMN processor TEXT NOT NULL DEFAULT ''")
    rows = conn.execute(sa.select(machines.c.id, records.c.processor_text)
                        .select_from(machines.join(records, records.c.id == machines.c.last_record_id))
                        ).fetchall()
    for row in rows:
        conn.execute(machines.update().where(machines.c.id == row.id)
                     .values(processor=texts.processor_summary(row.processor_text)))


def _upgrade_from_3(conn):
    """Version 3 kept each program's machine count in the catalogue's row:
    move the counts to program_counts."""
    program_counts.create(conn)
    conn.exec_driver_sql("INSERT INTO program_counts (program_id, machine_count)"
                         " SELECT id, machine_count FROM programs")
    conn.exec_driver_sql("DROP INDEX programs_machine_count")
    conn.exec_driver_sql("ALTER TABLE programs DROP COLUMN machine_count")


def _upgrade_from_4(conn):
    """Version 4 had no session generations and no "cut" list, kept adapter
    addresses as sent (so 00:0C:... and 00-0c-... were two PCs) and fields of
    any length. Addresses take their one form; PCs whose keys become one are
    merged into the oldest (their records, changes and counts follow); the
    shown fields and program names are cut at their caps."""
    conn.exec_driver_sql("ALTER TABLE administrators ADD COLUMN session_generation INTEGER NOT NULL DEFAULT 0")
    conn.exec_driver_sql("ALTER TABLE records ADD COLUMN cut TEXT NOT NULL DEFAULT ''")
    limit = texts.CAPS["ProgramName"]
    for p in conn.execute(sa.select(programs.c.id, programs.c.name)
                          .where(sa.func.length(programs.c.name) > limit)).fetchall():
        name = texts.cap(p.name, limit)
        if conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first():
            continue  # another long name with the same beginning: left whole
        conn.execute(programs.update().where(programs.c.id == p.id).values(name=name, name_hash=name_hash(name)))
    survivors: Dict[str, Dict[str, Any]] = {}
    merged = set()
    # The columns version 5 had: the profile's facts come after.
    version_5 = [c for c in machines.columns if c.name not in FACT_COLUMNS]
    old = [dict(r._mapping) for r in conn.execute(sa.select(*version_5).order_by(machines.c.id))]
    # Out of the way first: a PC's new key may be another's old one.
    conn.execute(machines.update().values(machine_key=sa.literal("v4:") + sa.cast(machines.c.id, sa.Text)))
    for m in old:
        if m["machine_key"].startswith("name:"):
            key = "name:" + texts.cap(m["machine_key"][5:], texts.CAPS["ComputerName"])
        else:
            key = texts.normal_address(m["machine_key"])
        values = {"adapter_address": texts.normal_address(m["adapter_address"]),
                  "computer_name": texts.cap(m["computer_name"], texts.CAPS["ComputerName"]),
                  "last_user": texts.cap(m["last_user"], texts.CAPS["UserName"]),
                  "processor": texts.cap(m["processor"], texts.CAPS["Processor"])}
        into = survivors.get(key)
        if into is None:
            survivors[key] = m
            conn.execute(machines.update().where(machines.c.id == m["id"]).values(machine_key=key, **values))
            continue
        merged.add(into["id"])
        latest = max(m["last_record_id"] or 0, into["last_record_id"] or 0)
        for table in (records, changes):
            conn.execute(table.update().where(table.c.machine_id == m["id"]).values(machine_id=into["id"]))
        conn.execute(machine_programs.delete().where(machine_programs.c.machine_id.in_([m["id"], into["id"]])))
        text = conn.execute(sa.select(records.c.programs_text).where(records.c.id == latest)).scalar()
        hashes = sorted({name_hash(n) for n in texts.capped_programs(text or "")[0]})
        conn.execute(machine_programs.insert().from_select(
            ["machine_id", "program_id"],
            sa.select(sa.literal(into["id"]), programs.c.id).where(programs.c.name_hash.in_(hashes))))
        conn.execute(machines.delete().where(machines.c.id == m["id"]))
        into.update(first_seen=min(m["first_seen"], into["first_seen"]),
                    last_seen=max(m["last_seen"], into["last_seen"]), last_record_id=latest,
                    record_count=m["record_count"] + into["record_count"], program_count=len(hashes))
        if latest == m["last_record_id"]:
            into.update(values)
        conn.execute(machines.update().where(machines.c.id == into["id"]).values(
            {k: v for k, v in into.items() if k not in ("id", "machine_key")}))
    for machine_id in merged:
        _replay_changes(conn, machine_id)
    if merged:
        conn.execute(program_count_queue.delete())
        conn.execute(program_counts.update().values(machine_count=sa.select(sa.func.count())
                     .select_from(machine_programs).where(machine_programs.c.program_id == program_counts.c.program_id)
                     .scalar_subquery()))


def _upgrade_from_5(conn):
    """Version 5 kept no enrollment secret: records gain the name of the one
    they came with (create_all adds the secrets' table)."""
    conn.exec_driver_sql("ALTER TABLE records ADD COLUMN secret_name TEXT")


def _upgrade_from_8(conn):
    """Version 8 kept no searchable network names: take them from each
    machine's latest record."""
    machine_network_names.create(conn)
    rows = conn.execute(sa.select(machines.c.id, records.c.network_text, records.c.adapter_address)
                        .select_from(machines.join(records, records.c.id == machines.c.last_record_id)))
    for row in rows.fetchall():
        ingest.set_network_names(conn, row.id, texts.network_names(row.network_text, row.adapter_address))


def _upgrade_from_9(conn):
    """Version 9 kept no profiles: records gain profile_text, machines the
    facts' columns (empty until the PC's next profile) and their indexes."""
    conn.exec_driver_sql("ALTER TABLE records ADD COLUMN profile_text TEXT")
    for column in machines.columns:
        if column.name in FACT_COLUMNS:
            conn.exec_driver_sql("ALTER TABLE machines ADD COLUMN %s %s"
                                 % (column.name, column.type.compile(dialect=conn.dialect)))
    for index in PROFILE_INDEXES:
        index.create(conn)


def _replay_changes(conn, machine_id):
    """A merged PC's changes, made again between its records in the order
    they came (each was compared with its own PC's record before)."""
    conn.execute(changes.delete().where(changes.c.machine_id == machine_id))
    previous = None
    for r in conn.execute(sa.select(records.c.id, records.c.programs_text)
                          .where(records.c.machine_id == machine_id).order_by(records.c.id)).fetchall():
        names = texts.capped_programs(r.programs_text)[0]
        if previous is not None and names != previous:
            moved = [(n, True) for n in names - previous] + [(n, False) for n in previous - names]
            ids = dict(conn.execute(sa.select(programs.c.name_hash, programs.c.id).where(
                programs.c.name_hash.in_([name_hash(n) for n, _ in moved]))).fetchall())
            conn.execute(changes.insert(), [{"machine_id": machine_id, "record_id": r.id, "added": added,
                                             "program_id": ids[name_hash(n)]} for n, added in sorted(moved)])
        previous = names


# Each older version's upgrade and the version it leaves the database at. The
# first layout's records are ingested again into the current tables, so it
# goes straight to the latest.
UPGRADES = {
    1: (_upgrade_from_1, SCHEMA_VERSION),
    2: (_upgrade_from_2, 3),
    3: (_upgrade_from_3, 4),
    4: (_upgrade_from_4, 5),
    5: (_upgrade_from_5, 8),
    8: (_upgrade_from_8, 9),
    9: (_upgrade_from_9, SCHEMA_VERSION),
}


def _parse_time(text):
    if isinstance(text, datetime.datetime):
        return text.replace(tzinfo=None)
    t = datetime.datetime.fromisoformat(str(text).replace("Z", "+00:00"))
    if t.tzinfo is not None:
        t = t.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return t


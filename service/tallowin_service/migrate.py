"""Bringing a database up to schema.SCHEMA_VERSION: each older version's
upgrade, applied in order from the version found, in one transaction; then,
from version 5, the records' texts moved to shared_texts in batches while
the service answers (move_texts)."""

import datetime
import logging
import re
import secrets
import threading
import time
from typing import Any, Dict

import sqlalchemy as sa

from . import ingest, stored_profiles, stored_texts, texts
from .db import Engine, is_postgresql, utcnow, writing
from .profile import FACT_COLUMNS
from .schema import (PROFILE_INDEXES, SCHEMA_VERSION, TEXT_KINDS, changes, machine_network_names,
                     machine_programs, machines, metadata, name_hash, program_count_queue, program_counts,
                     programs, records, schema_version, settings, shared_texts, text_reference_indexes)


def upgrade(engine: Engine) -> int:
    """Creates the tables of a new database or brings an older one up to
    SCHEMA_VERSION; returns the version found (0: new). From version 5 the
    records' texts are left where they are, and version 10's whole profiles
    too, for move_texts."""
    with writing(engine) as conn, conn.begin():
        _locked(conn)
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
        for statement in text_reference_indexes(conn.dialect.name):
            conn.exec_driver_sql(statement)
        if is_postgresql(engine):
            _trigram_indexes(conn)
            conn.exec_driver_sql(stored_profiles.SECTIONS_INDEX)
        if version != found or found == 0:
            _set_version(conn, SCHEMA_VERSION)
        return found


def _locked(conn):
    if conn.dialect.name == "postgresql":
        # Two processes starting at once must not both create the tables.
        conn.exec_driver_sql("SELECT pg_advisory_xact_lock(7731500)")


def _set_version(conn, version):
    conn.execute(schema_version.delete())
    conn.execute(schema_version.insert().values(version=version))


# A version 5 record's texts, in its own columns.
_OLD_TEXT = {kind: sa.literal_column("records.%s_text" % kind).label(kind + "_text") for kind, _ in TEXT_KINDS}
# Version 5's kinds: the profile came later.
_OLD_KINDS = stored_texts.OLD_KINDS


def _upgrade_from_5(conn):
    """Version 5 kept each record's texts in its row. Only what is quick
    happens here: the columns that refer to shared_texts come, empty, with
    their indexes, and the old ones may be NULL (so that new records need not
    fill them). The texts move afterwards while the service answers
    (move_texts); until then each read takes a record's texts from where
    they are (stored_texts.with_unmoved). Half-moved by an earlier start,
    the move goes on."""
    metadata.create_all(conn)  # shared_texts and the tables of later versions
    there = {c["name"]: c for c in sa.inspect(conn).get_columns("records")}
    if conn.dialect.name == "postgresql":
        for kind in _OLD_KINDS:
            conn.exec_driver_sql("ALTER TABLE records ALTER COLUMN %s_text DROP NOT NULL" % kind)
    elif any(not there[kind + "_text"]["nullable"] for kind in _OLD_KINDS):
        _sqlite_nullable(conn, [kind + "_text" for kind in _OLD_KINDS])
    for kind, _ in TEXT_KINDS:
        if kind + "_id" not in there:  # else added by an upgrade stopped half-way
            conn.exec_driver_sql("ALTER TABLE records ADD COLUMN %s_id INTEGER" % kind)
    # (Their indexes come with upgrade's, once every step has run.)
    conn.execute(settings.delete().where(settings.c.name == MOVER))
    conn.execute(settings.insert().values(name=MOVER, value=""))


def _sqlite_nullable(conn, columns):
    """SQLite cannot drop a NOT NULL but by copying the table: its
    documented alternative for removing one (lang_altertable, "other kinds
    of table schema changes") edits the table's definition in place."""
    sql = conn.exec_driver_sql("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'records'").scalar()
    for column in columns:
        sql, n = re.subn(r"\b(%s\s+TEXT)\s+NOT\s+NULL\b" % column, r"\1", sql, flags=re.IGNORECASE)
        if n != 1:
            raise RuntimeError("records.%s: unexpected definition %r" % (column, sql))
    cookie = conn.exec_driver_sql("PRAGMA schema_version").scalar()
    conn.exec_driver_sql("PRAGMA writable_schema = ON")
    conn.exec_driver_sql("UPDATE sqlite_master SET sql = ? WHERE type = 'table' AND name = 'records'", (sql,))
    conn.exec_driver_sql("PRAGMA schema_version = %d" % (cookie + 1))
    conn.exec_driver_sql("PRAGMA writable_schema = OFF")


# The row of settings there while texts remain to move; its value, the mover
# that holds the lease and until when ("" or "TOKEN ISO-TIME"). One mover at a
# time, whatever the number of workers and hosts; one killed mid-way leaves a
# lease that runs out, and another takes over. (The batches would be right
# with two movers too, each under the upgrade's lock: the lease only keeps
# them from taking turns at twice the load.)
MOVER = "texts_to_move"
LEASE = datetime.timedelta(seconds=30)
# Records a batch; a quarter on SQLite, where a batch holds every writer.
SHARE_BATCH = 2000
# The longest the end of the move waits for the records table on
# PostgreSQL, holding those that come after it meanwhile.
LOCK_WAIT = "2s"


def _batch(conn):
    return SHARE_BATCH if is_postgresql(conn.engine) else max(1, SHARE_BATCH // 4)


def texts_to_move(engine: Engine) -> bool:
    """Whether records' texts or whole profiles are left to move."""
    with engine.connect() as conn:
        return conn.execute(sa.select(settings.c.value)
                            .where(settings.c.name.in_((MOVER, _SPLIT)))).first() is not None


def move_texts(engine: Engine, pause: float = 0.0) -> bool:
    """Moves the texts of the records a version 5 database had to
    shared_texts, SHARE_BATCH records a transaction (each short), resting
    PAUSE times a batch's time between two (room for the service's
    writers); then _finish. Returns True when none are left to move, False
    when another mover holds the lease or the end must wait. Stopped at any
    point, nothing is half done. Version 10's whole profiles are split
    first (_split_profiles)."""
    _split_profiles(engine, pause)
    me = secrets.token_hex(8)
    while True:
        began = time.monotonic()
        with writing(engine) as conn, conn.begin():
            state = _move_batch(conn, me)
        if state == "finish":
            return _finish(engine)
        if state != "more":
            return state == "done"
        time.sleep(pause * (time.monotonic() - began))


def keep_moving(engine: Engine, pause: float = 0.5) -> threading.Thread:
    """move_texts in a thread of its own until the texts are moved: tried
    again while another mover holds the lease (it takes over if that one
    stops) and after an error (the database restarting, say)."""
    def run():
        while True:
            try:
                if move_texts(engine, pause):
                    return
            except Exception:  # noqa: BLE001 -- the thread goes on; the log says why
                logging.getLogger(__name__).exception("moving the records' texts (tried again)")
            time.sleep(LEASE.total_seconds() / 3)
    thread = threading.Thread(target=run, name="tallowin-move-texts", daemon=True)
    thread.start()
    return thread


def _move_batch(conn, me):
    _locked(conn)
    lease = conn.execute(sa.select(settings.c.value).where(settings.c.name == MOVER)).scalar()
    if lease is None:
        return "done"
    now = utcnow()
    holder, _, until = lease.partition(" ")
    if holder not in ("", me) and until > now.isoformat(timespec="microseconds"):
        return "busy"
    conn.execute(settings.update().where(settings.c.name == MOVER)
                 .values(value="%s %s" % (me, (now + LEASE).isoformat(timespec="microseconds"))))
    stored_texts.lock_texts(conn)
    rows = conn.execute(sa.select(records.c.id, *[_OLD_TEXT[k] for k in _OLD_KINDS])
                        .where(records.c.programs_id.is_(None)).order_by(records.c.id)
                        .limit(_batch(conn))).fetchall()
    if not rows:
        return "finish"
    ids = _ids_of_texts(conn, {body for row in rows for body in row[1:]})
    values = [{"i": row[0], **{k: ids[body] for k, body in zip(_OLD_KINDS, row[1:])}} for row in rows]
    # The old texts emptied: their space goes to the next records.
    if conn.dialect.name == "postgresql":
        conn.exec_driver_sql(
            "UPDATE records SET " + ", ".join("%s_id = x.%s, %s_text = NULL" % (k, k, k) for k in _OLD_KINDS)
            + " FROM unnest(%(i)s::integer[], " + ", ".join("%%(%s)s::integer[]" % k for k in _OLD_KINDS)
            + ") AS x(i, " + ", ".join(_OLD_KINDS) + ") WHERE records.id = x.i",
            {"i": [v["i"] for v in values], **{k: [v[k] for v in values] for k in _OLD_KINDS}})
    else:
        conn.execute(sa.text("UPDATE records SET " + ", ".join("%s_id = :%s, %s_text = NULL" % (k, k, k)
                                                              for k in _OLD_KINDS) + " WHERE id = :i"), values)
    return "more"


def _finish(engine):
    """Every record moved: on PostgreSQL the old columns go and the new ones
    become NOT NULL, each step waiting at most LOCK_WAIT for the table (else
    False: tried again later) and NOT NULL's scan done beforehand, as a
    check validated while records still come and go. SQLite's DROP COLUMN
    would rewrite the whole table holding every writer: there the old
    columns stay, empty. True when done."""
    if is_postgresql(engine):
        check = " AND ".join("%s_id IS NOT NULL" % k for k in _OLD_KINDS)
        try:
            with writing(engine) as conn, conn.begin():
                conn.exec_driver_sql("SET LOCAL lock_timeout = '%s'" % LOCK_WAIT)
                conn.exec_driver_sql("ALTER TABLE records DROP CONSTRAINT IF EXISTS records_texts_moved,"
                                     " ADD CONSTRAINT records_texts_moved CHECK (%s) NOT VALID" % check)
            with writing(engine) as conn, conn.begin():
                conn.exec_driver_sql("ALTER TABLE records VALIDATE CONSTRAINT records_texts_moved")
            with writing(engine) as conn, conn.begin():
                _locked(conn)
                if conn.execute(sa.select(settings.c.value).where(settings.c.name == MOVER)).first() is None:
                    return True  # done by another
                conn.exec_driver_sql("SET LOCAL lock_timeout = '%s'" % LOCK_WAIT)
                conn.exec_driver_sql("ALTER TABLE records " + ", ".join(
                    ["ALTER COLUMN %s_id SET NOT NULL" % k for k in _OLD_KINDS]
                    + ["DROP COLUMN %s_text" % k for k in _OLD_KINDS] + ["DROP CONSTRAINT records_texts_moved"]))
                # With the columns: a mover must never find the row without them.
                conn.execute(settings.delete().where(settings.c.name == MOVER))
        except sa.exc.OperationalError as error:
            if getattr(error.orig, "pgcode", None) != "55P03":  # lock_not_available
                raise
            return False
    else:
        with writing(engine) as conn, conn.begin():
            conn.execute(settings.delete().where(settings.c.name == MOVER))
    logging.getLogger(__name__).warning("the upgrade has moved every record's texts to shared_texts")
    return True


def _ids_of_texts(conn, bodies):
    """{body: id in shared_texts} for a set of texts, adding the missing."""
    listed = list(bodies)
    ids = stored_texts.text_ids(conn, {str(i): body for i, body in enumerate(listed)})
    return {body: ids[str(i)] for i, body in enumerate(listed)}


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
    rows = conn.execute(sa.select(machines.c.id, _OLD_TEXT["processor"])
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
        text = conn.execute(sa.select(_OLD_TEXT["programs"]).where(records.c.id == latest)).scalar()
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


def _upgrade_from_6(conn):
    """Version 6 kept no enrollment secret: records gain the name of the one
    they came with (create_all adds the secrets' table)."""
    conn.exec_driver_sql("ALTER TABLE records ADD COLUMN secret_name TEXT")


def _upgrade_from_8(conn):
    """Version 8 kept no searchable network names: take them from each
    machine's latest record."""
    machine_network_names.create(conn, checkfirst=True)  # create_all may have made it, empty
    network = shared_texts.alias("network")
    rows = conn.execute(sa.select(machines.c.id.label("machine"), records.c.id, network.c.body.label("network_text"),
                                  records.c.adapter_address)
                        .select_from(machines.join(records, records.c.id == machines.c.last_record_id)
                                     .outerjoin(network, network.c.id == records.c.network_id))).fetchall()
    # The table is new: one insert for all (before the service answers).
    names = [{"machine_id": row.machine, "value": value} for row in stored_texts.with_unmoved(conn, rows)
             for value in texts.network_names(row.network_text, row.adapter_address)]
    if names:
        conn.execute(machine_network_names.insert(), names)


def _upgrade_from_9(conn):
    """Version 9 kept no profiles: machines gain the facts' columns (empty
    until the PC's next profile) and their indexes (records' profile_id came
    with the other texts' columns)."""
    for column in machines.columns:
        if column.name in FACT_COLUMNS:
            conn.exec_driver_sql("ALTER TABLE machines ADD COLUMN %s %s"
                                 % (column.name, column.type.compile(dialect=conn.dialect)))
    for index in PROFILE_INDEXES:
        index.create(conn)


def _upgrade_from_10(conn):
    """Version 10 kept each profile whole: _split_profiles splits them, from
    the first record on."""
    conn.execute(settings.insert().values(name=_SPLIT, value="0"))


def _upgrade_from_11(conn):
    """Version 11 kept every text with its moving values: records gain the
    column for them (older records' texts read as they are). An upgrade
    from version 1 made the table anew, with it."""
    if "volatile_values" not in {c["name"] for c in sa.inspect(conn).get_columns("records")}:
        conn.exec_driver_sql("ALTER TABLE records ADD COLUMN volatile_values "
                             + records.c.volatile_values.type.compile(dialect=conn.dialect))


def _upgrade_from_12(conn):
    """Version 12 kept each record's origin in its row and indexed a PC's
    records by (machine_id, id) and, on PostgreSQL, each text reference in
    a B-tree of its own. Records gain origin_id (older records keep their
    origin where it is); the index by machine_id alone and the GIN index
    over the references (made by upgrade) take the others' place. Each index
    is built whole, holding the table's writes meanwhile."""
    if "origin_id" not in {c["name"] for c in sa.inspect(conn).get_columns("records")}:
        conn.exec_driver_sql("ALTER TABLE records ADD COLUMN origin_id INTEGER")
    if is_postgresql(conn.engine):
        conn.exec_driver_sql("DROP INDEX IF EXISTS " + ", ".join("records_" + kind for kind, _ in TEXT_KINDS))
    conn.exec_driver_sql("DROP INDEX IF EXISTS records_machine")
    next(index for index in records.indexes if index.name == "records_machine").create(conn)


# The setting that says where _split_profiles goes on (none: done).
_SPLIT = "profiles split after record"


def _split_profiles(engine, pause):
    """The whole profiles become lists of sections (stored_profiles), a
    batch of records a transaction, from where the last one stopped (reads
    take either meanwhile; each batch under the upgrade's lock, so movers in
    several workers take turns); the whole texts go with the next prune."""
    while True:
        began = time.monotonic()
        with writing(engine) as conn, conn.begin():
            _locked(conn)
            stored_texts.lock_texts(conn)
            after = conn.execute(sa.select(settings.c.value).where(settings.c.name == _SPLIT)).scalar()
            if after is None:
                return
            rows = conn.execute(
                sa.select(records.c.id, records.c.profile_id, shared_texts.c.body)
                .select_from(records.join(shared_texts, shared_texts.c.id == records.c.profile_id))
                .where(records.c.id > int(after)).order_by(records.c.id).limit(_batch(conn))).fetchall()
            whole = {r.profile_id: r.body for r in rows if not r.body.startswith(stored_profiles.MARK)}
            listed = {i: stored_profiles.store(conn, body) for i, body in whole.items()}
            moved = [(r.id, listed[r.profile_id]) for r in rows if r.profile_id in listed]
            if moved and is_postgresql(engine):
                conn.exec_driver_sql("UPDATE records SET profile_id = x.p FROM unnest(%(i)s::integer[],"
                                     " %(p)s::integer[]) AS x(i, p) WHERE records.id = x.i",
                                     {"i": [i for i, _ in moved], "p": [p for _, p in moved]})
            elif moved:
                conn.execute(sa.text("UPDATE records SET profile_id = :p WHERE id = :i"),
                             [{"i": i, "p": p} for i, p in moved])
            done = settings.c.name == _SPLIT
            if len(rows) < _batch(conn):
                conn.execute(settings.delete().where(done))
                return
            conn.execute(settings.update().where(done).values(value=str(rows[-1].id)))
        time.sleep(pause * (time.monotonic() - began))


def _replay_changes(conn, machine_id):
    """A merged PC's changes, made again between its records in the order
    they came (each was compared with its own PC's record before)."""
    conn.execute(changes.delete().where(changes.c.machine_id == machine_id))
    previous = None
    for r in conn.execute(sa.select(records.c.id, _OLD_TEXT["programs"])
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
    5: (_upgrade_from_5, 6),
    6: (_upgrade_from_6, 8),
    8: (_upgrade_from_8, 9),
    9: (_upgrade_from_9, 10),
    10: (_upgrade_from_10, 11),
    11: (_upgrade_from_11, 12),
    12: (_upgrade_from_12, SCHEMA_VERSION),
}


def _parse_time(text):
    if isinstance(text, datetime.datetime):
        return text.replace(tzinfo=None)
    t = datetime.datetime.fromisoformat(str(text).replace("Z", "+00:00"))
    if t.tzinfo is not None:
        t = t.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return t


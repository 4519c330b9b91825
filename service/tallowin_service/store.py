"""The schema (SQLAlchemy Core tables), opening a database, and the queries
the API and the pages ask. One code path for SQLite and PostgreSQL.

Times are stored as naive datetimes in UTC and returned as ISO texts ending
in "Z". Every query function returns plain dicts and lists.
"""

import datetime
import functools
import hashlib

import sqlalchemy as sa
from sqlalchemy import event

SCHEMA_VERSION = 5

metadata = sa.MetaData()

schema_version = sa.Table(
    "schema_version", metadata,
    sa.Column("version", sa.Integer, nullable=False),
)

# One row per machine: its key (the adapter address, or "name:" + computer
# name), identity from its latest record, and counts kept by ingest.
machines = sa.Table(
    "machines", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("machine_key", sa.Text, nullable=False, unique=True),
    sa.Column("adapter_address", sa.Text, nullable=False),
    sa.Column("computer_name", sa.Text, nullable=False),
    sa.Column("last_user", sa.Text, nullable=False),
    sa.Column("first_seen", sa.DateTime, nullable=False),
    sa.Column("last_seen", sa.DateTime, nullable=False),
    sa.Column("last_record_id", sa.Integer, nullable=True),
    sa.Column("record_count", sa.Integer, nullable=False, default=0),
    sa.Column("program_count", sa.Integer, nullable=False, default=0),
    # A short summary of its processor lines (texts.processor_summary), for
    # the PCs list to show and sort by.
    sa.Column("processor", sa.Text, nullable=False, default="", server_default=""),
)
sa.Index("machines_computer_name", machines.c.computer_name)
sa.Index("machines_last_seen", machines.c.last_seen)

# Every record whole, as received.
records = sa.Table(
    "records", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("machine_id", sa.Integer, sa.ForeignKey("machines.id"), nullable=False),
    sa.Column("received", sa.DateTime, nullable=False),
    sa.Column("sender", sa.Text, nullable=False),
    sa.Column("user_name", sa.Text, nullable=False),
    sa.Column("adapter_address", sa.Text, nullable=False),
    sa.Column("programs_text", sa.Text, nullable=False),
    sa.Column("network_text", sa.Text, nullable=False),
    sa.Column("processor_text", sa.Text, nullable=False),
    # The fields ingest took cut at texts.CAPS, comma-separated ("" for none).
    sa.Column("cut", sa.Text, nullable=False, default="", server_default=""),
)
sa.Index("records_machine", records.c.machine_id, records.c.id)

# The program catalogue: one row per distinct name. Names can be longer than
# an index entry may be (PostgreSQL's b-tree limit is about 2.7 kB), so the
# unique key is the name's SHA-256. Rows are never changed once added.
programs = sa.Table(
    "programs", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("name_hash", sa.String(64), nullable=False, unique=True),
    sa.Column("name", sa.Text, nullable=False),
)

# How many machines have each program now, kept by ingest; a row for every
# program. In a table of its own: in the catalogue's row each change would
# also meet the key-share locks that the foreign keys of other records' rows
# hold there (PostgreSQL then makes a multixact for every counter, which
# serialised the records) and write an entry in every index of the catalogue.
program_counts = sa.Table(
    "program_counts", metadata,
    sa.Column("program_id", sa.Integer, sa.ForeignKey("programs.id"), primary_key=True),
    sa.Column("machine_count", sa.Integer, nullable=False),
)

# Changes to the counts not yet added to program_counts (PostgreSQL): a
# record that finds another one adding to the counters queues its changes
# here instead of waiting, and the next one to add takes them along (see
# ingest). A machine's first record changes hundreds of counters that every
# other first record changes too; one at a time, they made each other wait.
# A count is program_counts' plus the queued changes of the program.
program_count_queue = sa.Table(
    "program_count_queue", metadata,
    sa.Column("program_id", sa.Integer, nullable=False),
    sa.Column("delta", sa.Integer, nullable=False),
)

# A machine's current programs (from its latest record).
machine_programs = sa.Table(
    "machine_programs", metadata,
    sa.Column("machine_id", sa.Integer, sa.ForeignKey("machines.id"), primary_key=True),
    sa.Column("program_id", sa.Integer, sa.ForeignKey("programs.id"), primary_key=True),
)
sa.Index("machine_programs_program", machine_programs.c.program_id, machine_programs.c.machine_id)

# Programs added or removed between consecutive records of a machine; the
# record is the later one, the one that showed the change.
changes = sa.Table(
    "changes", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("machine_id", sa.Integer, sa.ForeignKey("machines.id"), nullable=False),
    sa.Column("record_id", sa.Integer, sa.ForeignKey("records.id"), nullable=False),
    sa.Column("program_id", sa.Integer, sa.ForeignKey("programs.id"), nullable=False),
    sa.Column("added", sa.Boolean, nullable=False),
)
sa.Index("changes_record", changes.c.record_id)
sa.Index("changes_machine", changes.c.machine_id, changes.c.id)

administrators = sa.Table(
    "administrators", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("name", sa.Text, nullable=False, unique=True),
    sa.Column("password_hash", sa.Text, nullable=False),
    sa.Column("created", sa.DateTime, nullable=False),
    # Kept in each session: signing out adds one, which ends every session
    # begun before (a cookie replayed after sign-out is refused).
    sa.Column("session_generation", sa.Integer, nullable=False, default=0, server_default="0"),
)

# Settings the service makes for itself (the pages' session key).
settings = sa.Table(
    "settings", metadata,
    sa.Column("name", sa.Text, primary_key=True),
    sa.Column("value", sa.Text, nullable=False),
)

# Failed authentication attempts (pages and API) per subject (auth.attempt_subjects),
# kept in the database so that every worker and host counts them.
sign_in_failures = sa.Table(
    "sign_in_failures", metadata,
    sa.Column("subject", sa.Text, primary_key=True),
    sa.Column("failures", sa.Integer, nullable=False),
    sa.Column("last_failure", sa.DateTime, nullable=False),
)

MAX_PAGE = 1000
# The largest numbers a question takes: an id in an INTEGER column, an offset
# PostgreSQL's bigint holds with room, days a date can go back.
MAX_ID = 2 ** 31 - 1
MAX_OFFSET = 10 ** 12
MAX_DAYS = 36500


def name_hash(name):
    # Most names come again and again, from machine after machine: the
    # hashes of the short ones are kept (a few MB at most per process).
    return _short_name_hash(name) if len(name) <= 200 else _name_hash(name)


def _name_hash(name):
    return hashlib.sha256(name.encode("utf-8", "surrogatepass")).hexdigest()


_short_name_hash = functools.lru_cache(maxsize=50000)(_name_hash)


def utcnow():
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def iso(t):
    return None if t is None else t.isoformat(timespec="microseconds") + "Z"


# ---- opening ----

def create_engine(url):
    """An engine for a database URL: sqlite:///PATH (WAL, a busy time-out,
    and BEGIN IMMEDIATE for writing transactions) or postgresql://..."""
    if url.startswith("sqlite"):
        engine = sa.create_engine(url, connect_args={"timeout": 60, "check_same_thread": False},
                                  poolclass=sa.pool.QueuePool, pool_size=8, max_overflow=8)

        @event.listens_for(engine, "connect")
        def on_connect(dbapi_connection, _record):
            # pysqlite's own transaction handling starts transactions late and
            # as DEFERRED; the "begin" hook below starts them instead.
            dbapi_connection.isolation_level = None
            cur = dbapi_connection.cursor()
            cur.execute("PRAGMA journal_mode=WAL")
            # FULL: an acknowledged record survives a power cut too.
            cur.execute("PRAGMA synchronous=FULL")
            cur.execute("PRAGMA foreign_keys=ON")
            cur.execute("PRAGMA busy_timeout=60000")
            cur.close()

        @event.listens_for(engine, "begin")
        def on_begin(conn):
            # A writer takes the write lock at once: two deferred transactions
            # that both read then write would otherwise fail with "database is
            # locked" instead of waiting (SQLite cannot upgrade both).
            if conn.get_execution_options().get("tallowin_write"):
                conn.exec_driver_sql("BEGIN IMMEDIATE")
            else:
                conn.exec_driver_sql("BEGIN")
        return engine
    return sa.create_engine(url, pool_size=8, max_overflow=8, pool_pre_ping=True)


def writing(engine):
    """A connection whose transactions write (BEGIN IMMEDIATE on SQLite)."""
    return engine.connect().execution_options(tallowin_write=True)


def is_postgresql(engine):
    return engine.dialect.name == "postgresql"


def upgrade(engine):
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
        if found == 1:
            _upgrade_from_1(conn)
        if found == 2:
            _upgrade_from_2(conn)
        if found in (2, 3):
            _upgrade_from_3(conn)
        if found in (2, 3, 4):
            _upgrade_from_4(conn)
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
        import logging
        logging.getLogger(__name__).warning("no trigram indexes (searches will be slower): %s", error.orig)


def _upgrade_from_1(conn):
    """Version 1 kept records alone (received as text, no machines): move them
    aside, create the tables, then ingest each old record in order so that
    machines, programs and changes exist for them too."""
    from . import ingest
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
    from . import texts
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
    from . import texts
    conn.exec_driver_sql("ALTER TABLE administrators ADD COLUMN session_generation INTEGER NOT NULL DEFAULT 0")
    conn.exec_driver_sql("ALTER TABLE records ADD COLUMN cut TEXT NOT NULL DEFAULT ''")
    limit = texts.CAPS["ProgramName"]
    for p in conn.execute(sa.select(programs.c.id, programs.c.name)
                          .where(sa.func.length(programs.c.name) > limit)).fetchall():
        name = texts.cap(p.name, limit)
        if conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first():
            continue  # another long name with the same beginning: left whole
        conn.execute(programs.update().where(programs.c.id == p.id).values(name=name, name_hash=name_hash(name)))
    survivors, merged = {}, set()
    old = [dict(r._mapping) for r in conn.execute(sa.select(machines).order_by(machines.c.id))]
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


def _replay_changes(conn, machine_id):
    """A merged PC's changes, made again between its records in the order
    they came (each was compared with its own PC's record before)."""
    from . import texts
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


def _parse_time(text):
    if isinstance(text, datetime.datetime):
        return text.replace(tzinfo=None)
    t = datetime.datetime.fromisoformat(str(text).replace("Z", "+00:00"))
    if t.tzinfo is not None:
        t = t.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return t


# ---- queries ----

def _counted():
    """The catalogue joined with its counts, and the expression of a
    program's machine count (what program_counts holds plus what waits in
    program_count_queue)."""
    queued = (sa.select(program_count_queue.c.program_id, sa.func.sum(program_count_queue.c.delta).label("n"))
              .group_by(program_count_queue.c.program_id).subquery("queued"))
    joined = (programs.join(program_counts, program_counts.c.program_id == programs.c.id)
              .outerjoin(queued, queued.c.program_id == programs.c.id))
    return joined, program_counts.c.machine_count + sa.func.coalesce(queued.c.n, 0)


def machine_counts(conn):
    """{program id: how many machines have it now} for every program."""
    joined, count = _counted()
    return dict(conn.execute(sa.select(programs.c.id, count).select_from(joined)).fetchall())


def _like(text):
    escaped = text.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_")
    return "%" + escaped + "%"


def _page(offset, limit):
    offset = min(max(0, int(offset or 0)), MAX_OFFSET)
    limit = int(limit if limit is not None else 100)
    return offset, max(1, min(limit, MAX_PAGE))


def _machine_dict(row):
    return {
        "key": row.machine_key,
        "adapter_address": row.adapter_address,
        "computer_name": row.computer_name,
        "last_user": row.last_user,
        "first_seen": iso(row.first_seen),
        "last_seen": iso(row.last_seen),
        "records": row.record_count,
        "programs": row.program_count,
        "processor": row.processor,
    }


MACHINE_SORTS = {
    "name": machines.c.computer_name,
    "address": machines.c.adapter_address,
    "user": machines.c.last_user,
    "first_seen": machines.c.first_seen,
    "last_seen": machines.c.last_seen,
    "records": machines.c.record_count,
    "programs": machines.c.program_count,
    "processor": machines.c.processor,
}


def _machine_query(q, silent_days, sort, now):
    """The WHERE clauses and ORDER BY of list_machines and iter_machines."""
    where = []
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


def list_machines(conn, q=None, silent_days=None, sort="name", offset=0, limit=100, now=None):
    """Machines whose computer name, adapter address or last user contains q
    (case-insensitive), optionally only those silent for at least silent_days
    days, sorted by sort (a MACHINE_SORTS key, "-" in front for descending),
    one page of at most MAX_PAGE. Returns {"total", "offset", "limit",
    "machines": [{key, adapter_address, computer_name, last_user,
    first_seen, last_seen, records, programs, processor}]}."""
    offset, limit = _page(offset, limit)
    where, order = _machine_query(q, silent_days, sort, now)
    total = conn.execute(sa.select(sa.func.count()).select_from(machines).where(*where)).scalar()
    rows = conn.execute(sa.select(machines).where(*where).order_by(*order)
                        .offset(offset).limit(limit)).fetchall()
    return {"total": total, "offset": offset, "limit": limit,
            "machines": [_machine_dict(r) for r in rows]}


def iter_machines(conn, q=None, silent_days=None, sort="name", now=None):
    """Every machine list_machines would list over all its pages, in the same
    order, as a generator (for CSV downloads of any size)."""
    where, order = _machine_query(q, silent_days, sort, now)
    result = conn.execution_options(stream_results=True, yield_per=1000).execute(
        sa.select(machines).where(*where).order_by(*order))
    for row in result:
        yield _machine_dict(row)


def get_machine(conn, key):
    """One machine by its key (adapter address, or "name:" + computer name):
    its identity, the processor and network lines and the user name of its
    latest record, and its current programs sorted by name. None if unknown."""
    from . import texts
    row = conn.execute(sa.select(machines).where(machines.c.machine_key == key)).first()
    if row is None:
        return None
    out = _machine_dict(row)
    last = conn.execute(sa.select(records.c.processor_text, records.c.network_text)
                        .where(records.c.id == row.last_record_id)).first()
    out["processor"] = texts.lines(last.processor_text) if last else []
    out["network"] = texts.lines(last.network_text) if last else []
    out["last_record_id"] = row.last_record_id
    names = conn.execute(
        sa.select(programs.c.name)
        .select_from(machine_programs.join(programs, programs.c.id == machine_programs.c.program_id))
        .where(machine_programs.c.machine_id == row.id)).scalars().all()
    out["current_programs"] = sorted(names, key=lambda n: (n.casefold(), n))
    return out


def machine_records(conn, key, offset=0, limit=100):
    """A machine's records, newest first, one page: each {id, received,
    sender, user_name, adapter_address, programs (count of names),
    added: [names], removed: [names]}. None if the machine is unknown.
    Returns {"total", "offset", "limit", "records"}."""
    from . import texts
    offset, limit = _page(offset, limit)
    m = conn.execute(sa.select(machines.c.id, machines.c.record_count)
                     .where(machines.c.machine_key == key)).first()
    if m is None:
        return None
    rows = conn.execute(
        sa.select(records.c.id, records.c.received, records.c.sender, records.c.user_name,
                  records.c.adapter_address, records.c.programs_text, records.c.cut)
        .where(records.c.machine_id == m.id).order_by(records.c.id.desc())
        .offset(offset).limit(limit)).fetchall()
    ids = [r.id for r in rows]
    added = {i: [] for i in ids}
    removed = {i: [] for i in ids}
    if ids:
        for c in conn.execute(
                sa.select(changes.c.record_id, changes.c.added, programs.c.name)
                .select_from(changes.join(programs, programs.c.id == changes.c.program_id))
                .where(changes.c.record_id.in_(ids))):
            (added if c.added else removed)[c.record_id].append(c.name)
    out = []
    for r in rows:
        out.append({"id": r.id, "received": iso(r.received), "sender": r.sender,
                    "user_name": r.user_name, "adapter_address": r.adapter_address,
                    "programs": len(texts.programs(r.programs_text)), "cut": _cut_list(r.cut),
                    "added": sorted(added[r.id]), "removed": sorted(removed[r.id])})
    return {"total": m.record_count, "offset": offset, "limit": limit, "records": out}


def _cut_list(cut):
    return cut.split(",") if cut else []


def get_record(conn, record_id):
    """One record whole: {id, machine (key), received, sender, user_name,
    adapter_address, programs_text, network_text, processor_text}; None if
    there is no such record."""
    r = conn.execute(
        sa.select(records, machines.c.machine_key)
        .select_from(records.join(machines, machines.c.id == records.c.machine_id))
        .where(records.c.id == record_id)).first()
    if r is None:
        return None
    return {"id": r.id, "machine": r.machine_key, "received": iso(r.received), "sender": r.sender,
            "user_name": r.user_name, "adapter_address": r.adapter_address,
            "programs_text": r.programs_text, "network_text": r.network_text,
            "processor_text": r.processor_text, "cut": _cut_list(r.cut)}


def list_records(conn, offset=0, limit=100):
    """All records, newest first, one page, without their texts: {"total",
    "offset", "limit", "records": [{id, machine, received, sender,
    user_name, adapter_address}]}."""
    offset, limit = _page(offset, limit)
    total = conn.execute(sa.select(sa.func.count()).select_from(records)).scalar()
    rows = conn.execute(
        sa.select(records.c.id, machines.c.machine_key, records.c.received, records.c.sender,
                  records.c.user_name, records.c.adapter_address)
        .select_from(records.join(machines, machines.c.id == records.c.machine_id))
        .order_by(records.c.id.desc()).offset(offset).limit(limit)).fetchall()
    return {"total": total, "offset": offset, "limit": limit,
            "records": [{"id": r.id, "machine": r.machine_key, "received": iso(r.received),
                         "sender": r.sender, "user_name": r.user_name,
                         "adapter_address": r.adapter_address} for r in rows]}


def search_programs(conn, q=None, sort="machines", offset=0, limit=100):
    """Programs whose name contains q (case-insensitive; all without q), each
    with the number of machines that have it now; sort "machines" (most
    first) or "name". Returns {"total", "offset", "limit", "programs":
    [{name, machines}]}."""
    offset, limit = _page(offset, limit)
    counted, machine_count = _counted()
    where = [machine_count > 0]
    if q:
        where.append(programs.c.name.ilike(_like(q), escape="\\"))
    if sort == "name":
        order = [programs.c.name, programs.c.id]
    elif sort in (None, "machines"):
        order = [machine_count.desc(), programs.c.name, programs.c.id]
    else:
        raise ValueError("unknown sort: %s (machines or name)" % sort)
    total = conn.execute(sa.select(sa.func.count()).select_from(counted).where(*where)).scalar()
    rows = conn.execute(sa.select(programs.c.name, machine_count).select_from(counted)
                        .where(*where).order_by(*order).offset(offset).limit(limit)).fetchall()
    return {"total": total, "offset": offset, "limit": limit,
            "programs": [{"name": r[0], "machines": r[1]} for r in rows]}


def program_machines(conn, name, offset=0, limit=100):
    """The machines that have the program of exactly this name now, by
    computer name. Returns {"name", "total", "offset", "limit", "machines":
    [machine dicts as list_machines gives]}; total 0 for an unknown name."""
    offset, limit = _page(offset, limit)
    p = conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first()
    if p is None:
        return {"name": name, "total": 0, "offset": offset, "limit": limit, "machines": []}
    joined = machines.join(machine_programs, machine_programs.c.machine_id == machines.c.id)
    where = machine_programs.c.program_id == p.id
    total = conn.execute(sa.select(sa.func.count()).select_from(joined).where(where)).scalar()
    rows = conn.execute(sa.select(machines).select_from(joined).where(where)
                        .order_by(machines.c.computer_name, machines.c.id)
                        .offset(offset).limit(limit)).fetchall()
    return {"name": name, "total": total, "offset": offset, "limit": limit,
            "machines": [_machine_dict(r) for r in rows]}


def fleet_summary(conn, silent_days=7, top=10, latest=20, now=None):
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
        .select_from(changes.join(records, records.c.id == changes.c.record_id)
                     .join(machines, machines.c.id == changes.c.machine_id)
                     .join(programs, programs.c.id == changes.c.program_id))
        .order_by(changes.c.id.desc()).limit(latest)).fetchall()
    return {
        "machines": count(machines),
        "records": count(records),
        "programs": count(counted, machine_count > 0),
        "silent_days": silent_days,
        "silent": count(machines, machines.c.last_seen <= cutoff),
        "widespread": [{"name": r[0], "machines": r[1]} for r in widespread],
        "latest_changes": [{"record_id": r.record_id, "received": iso(r.received),
                            "machine": r.machine_key, "computer_name": r.computer_name,
                            "program": r.name, "added": bool(r.added)} for r in latest_rows],
    }


def all_records(conn):
    """Every record whole, oldest first, as get_record gives them (a
    generator: the dump reads them one by one)."""
    result = conn.execution_options(stream_results=True).execute(
        sa.select(records, machines.c.machine_key)
        .select_from(records.join(machines, machines.c.id == records.c.machine_id))
        .order_by(records.c.id))
    for r in result:
        yield {"id": r.id, "machine": r.machine_key, "received": iso(r.received), "sender": r.sender,
               "user_name": r.user_name, "adapter_address": r.adapter_address,
               "programs_text": r.programs_text, "network_text": r.network_text,
               "processor_text": r.processor_text}


def iter_program_machines(conn, name):
    """Every machine program_machines would list over all its pages, in the
    same order, as a generator."""
    p = conn.execute(sa.select(programs.c.id).where(programs.c.name_hash == name_hash(name))).first()
    if p is None:
        return
    result = conn.execution_options(stream_results=True, yield_per=1000).execute(
        sa.select(machines)
        .select_from(machines.join(machine_programs, machine_programs.c.machine_id == machines.c.id))
        .where(machine_programs.c.program_id == p.id)
        .order_by(machines.c.computer_name, machines.c.id))
    for row in result:
        yield _machine_dict(row)


def fleet_activity(conn, silent_days=30, silent_limit=15, now=None):
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


def setting(engine, name, make):
    """The setting NAME, made with make() and kept the first time it is
    asked for. Two processes asking at once get the same value: the first
    insert wins and the other reads it."""
    with writing(engine) as conn, conn.begin():
        row = conn.execute(sa.select(settings.c.value).where(settings.c.name == name)).first()
        if row is not None:
            return row.value
        value = make()
        conn.execute(_insert_ignoring(conn, settings).values(name=name, value=value))
        return conn.execute(sa.select(settings.c.value).where(settings.c.name == name)).scalar()


def _insert_ignoring(conn, table):
    if conn.dialect.name == "postgresql":
        from sqlalchemy.dialects.postgresql import insert
    else:
        from sqlalchemy.dialects.sqlite import insert
    return insert(table).on_conflict_do_nothing()


def admin_password_hash(conn, name):
    """The stored password hash of the administrator NAME, or None."""
    return conn.execute(sa.select(administrators.c.password_hash)
                        .where(administrators.c.name == name)).scalar()


def admin_session(conn, name):
    """(password hash, session generation) of the administrator NAME, or None."""
    return conn.execute(sa.select(administrators.c.password_hash, administrators.c.session_generation)
                        .where(administrators.c.name == name)).first()


def end_sessions(engine, name):
    """Ends every session of NAME: each carries the generation it began in."""
    with writing(engine) as conn, conn.begin():
        conn.execute(administrators.update().where(administrators.c.name == name)
                     .values(session_generation=administrators.c.session_generation + 1))


def take_attempt(engine, subjects, wait_of, window, now=None):
    """One authentication attempt against the failure counts of SUBJECTS, in
    one transaction: wait_of([(failures, last_failure)], now) says how long
    it must wait; when 0 it is counted as a failure at once (a success takes
    it back: forgive_attempt), so that parallel attempts each see the others.
    The rows are locked (PostgreSQL, in one order) or the database is
    (SQLite's BEGIN IMMEDIATE). Returns the wait."""
    now = now or utcnow()
    with writing(engine) as conn, conn.begin():
        insert = _insert_ignoring(conn, sign_in_failures)
        conn.execute(insert, [{"subject": s, "failures": 0, "last_failure": now} for s in sorted(subjects)])
        rows = {r.subject: (r.failures, r.last_failure) for r in conn.execute(
            sa.select(sign_in_failures).where(sign_in_failures.c.subject.in_(subjects))
            .order_by(sign_in_failures.c.subject).with_for_update())}
        wait = wait_of([rows[s] for s in subjects], now)
        if wait:
            return wait
        conn.execute(sign_in_failures.update().where(sign_in_failures.c.subject.in_(subjects)).values(
            failures=sa.case((sign_in_failures.c.last_failure < now - window, 1),
                             else_=sign_in_failures.c.failures + 1),
            last_failure=now))
        # Old counts are of no use: keep the table small.
        conn.execute(sign_in_failures.delete().where(sign_in_failures.c.last_failure < now - 4 * window))
        return 0


def forgive_attempt(engine, subjects):
    """After a success: the first subject's count (name and address) is
    forgotten, the others lose the failure take_attempt counted."""
    with writing(engine) as conn, conn.begin():
        conn.execute(sign_in_failures.delete().where(sign_in_failures.c.subject == subjects[0]))
        conn.execute(sign_in_failures.update().where(sign_in_failures.c.subject.in_(subjects[1:]))
                     .where(sign_in_failures.c.failures > 0)
                     .values(failures=sign_in_failures.c.failures - 1))


def failure_counts(conn, subjects):
    """[(failures, last_failure)] for each subject (0, None when none)."""
    rows = {r.subject: (r.failures, r.last_failure) for r in conn.execute(
        sa.select(sign_in_failures).where(sign_in_failures.c.subject.in_(subjects)))}
    return [rows.get(s, (0, None)) for s in subjects]

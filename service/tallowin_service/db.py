"""Opening a database and what every module that writes needs: the engine
(SQLite's pragmas and BEGIN IMMEDIATE, PostgreSQL's pool), writing
connections, the dialect's insert that ignores a conflict, and times.

Times are stored as naive datetimes in UTC and returned as ISO texts ending
in "Z".
"""

import datetime
import re
from typing import Any, Mapping, Optional, Union, overload

import sqlalchemy as sa
from sqlalchemy import event
from sqlalchemy.dialects.postgresql import psycopg2

# Where the service keeps its records unless told: a file in the current
# directory.
DEFAULT_URL = "sqlite:///tallowin-inventory.sqlite"

Engine = Any      # sqlalchemy.engine.Engine (SQLAlchemy 1.4 has no type information)
Connection = Any  # sqlalchemy.engine.Connection


def database_url(text: Optional[str]) -> str:
    """The URL of a database given as a URL or a plain path (an SQLite
    file); DEFAULT_URL when none is given."""
    url = text or DEFAULT_URL
    if "://" not in url:
        url = "sqlite:///" + url
    if url.startswith("postgres://"):
        url = "postgresql://" + url[len("postgres://"):]
    return url


def utcnow() -> datetime.datetime:
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


@overload
def iso(t: datetime.datetime) -> str: ...
@overload
def iso(t: None) -> None: ...
def iso(t):
    return None if t is None else t.isoformat(timespec="microseconds") + "Z"


def create_engine(url: str) -> Engine:
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
    engine = sa.create_engine(url, pool_size=8, max_overflow=8, pool_pre_ping=True)

    @event.listens_for(engine, "connect")
    def on_connect_postgresql(dbapi_connection, _record):
        # Prepared's statements take texts in arrays of varying length, for
        # which PostgreSQL would otherwise plan each call anew.
        cur = dbapi_connection.cursor()
        cur.execute("SET plan_cache_mode = force_generic_plan")
        cur.close()
        dbapi_connection.commit()
    return engine


def writing(engine: Engine) -> Connection:
    """A connection whose transactions write (BEGIN IMMEDIATE on SQLite)."""
    return engine.connect().execution_options(tallowin_write=True)


def is_postgresql(engine: Engine) -> bool:
    return engine.dialect.name == "postgresql"



def insert_ignoring(conn: Connection, table: sa.Table, *keys: str) -> Any:
    """An insert into TABLE that does nothing where a row with the same key
    (KEYS, the columns of a unique index; else any) is there already. Each
    dialect spells it its own way."""
    if conn.dialect.name == "postgresql":
        from sqlalchemy.dialects.postgresql import insert
    else:
        from sqlalchemy.dialects.sqlite import insert
    return insert(table).on_conflict_do_nothing(index_elements=list(keys) or None)


class Prepared:
    """A PostgreSQL statement (psycopg2's %(name)s parameters) that each
    connection prepares the first time it runs it: planning one with a
    dozen texts in arrays cost the server more than running it, and a
    prepared one is planned once (plan_cache_mode, set on connecting; its
    parameters' types come from where they are used). Only for statements
    whose best plan does not depend on their arrays' lengths. BEFORE:
    statements sent as they are, in the same round trip, ahead of it (a
    lock to take first)."""

    def __init__(self, name: str, sql: Union[str, Any], before: str = ""):
        # A statement of SQLAlchemy's runs as it is elsewhere (statement);
        # PostgreSQL gets its text as psycopg2 would.
        self.statement = None if isinstance(sql, str) else sql
        if self.statement is not None:
            sql = str(self.statement.compile(dialect=psycopg2.dialect()))
        names = list(dict.fromkeys(re.findall(r"%\((\w+)\)s", sql)))
        body = re.sub(r"%\((\w+)\)s", lambda m: "$%d" % (names.index(m.group(1)) + 1), sql)
        self.name, self.sql = name, sql
        # Sent without parameters: no "%" is doubled.
        self.prepare = "PREPARE %s AS %s" % (name, body.replace("%%", "%"))
        self.execute = before + "EXECUTE %s (%s)" % (name, ", ".join("%%(%s)s" % n for n in names))

    def run(self, conn: Connection, parameters: Mapping[str, Any]) -> Any:
        # What a connection prepared goes with it (a new one prepares anew).
        done = conn.info.setdefault("tallowin_prepared", set())
        if self.name not in done:
            conn.exec_driver_sql(self.prepare)
            done.add(self.name)
        return conn.exec_driver_sql(self.execute, parameters)

    def run_anywhere(self, conn: Connection, parameters: Mapping[str, Any]) -> Any:
        """Prepared on PostgreSQL, the statement as it is on SQLite."""
        if conn.dialect.name == "postgresql":
            return self.run(conn, parameters)
        return conn.execute(self.statement, parameters)

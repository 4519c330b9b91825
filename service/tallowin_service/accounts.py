"""Administrators' sign-in state, failed attempts and the service's own
settings, kept in the database so that every worker and host shares them."""

import datetime
from typing import Any, Callable, List, Optional, Sequence, Tuple

import sqlalchemy as sa

from .db import Connection, Engine, insert_ignoring, utcnow, writing
from .schema import administrators, settings, sign_in_failures

# A subject's failures and the time of the last (None: none).
Count = Tuple[int, Optional[datetime.datetime]]

def setting(engine: Engine, name: str, make: Callable[[], str]) -> str:
    """The setting NAME, made with make() and kept the first time it is
    asked for. Two processes asking at once get the same value: the first
    insert wins and the other reads it."""
    with writing(engine) as conn, conn.begin():
        row = conn.execute(sa.select(settings.c.value).where(settings.c.name == name)).first()
        if row is not None:
            return row.value
        value = make()
        conn.execute(insert_ignoring(conn, settings).values(name=name, value=value))
        return conn.execute(sa.select(settings.c.value).where(settings.c.name == name)).scalar()


def admin_password_hash(conn: Connection, name: str) -> Optional[str]:
    """The stored password hash of the administrator NAME, or None."""
    return conn.execute(sa.select(administrators.c.password_hash)
                        .where(administrators.c.name == name)).scalar()


def admin_session(conn: Connection, name: str) -> Any:
    """(password hash, session generation) of the administrator NAME, or None."""
    return conn.execute(sa.select(administrators.c.password_hash, administrators.c.session_generation)
                        .where(administrators.c.name == name)).first()


def end_sessions(engine: Engine, name: str) -> None:
    """Ends every session of NAME: each carries the generation it began in."""
    with writing(engine) as conn, conn.begin():
        conn.execute(administrators.update().where(administrators.c.name == name)
                     .values(session_generation=administrators.c.session_generation + 1))


def take_attempt(engine: Engine, subjects: Sequence[str], wait_of: Callable[[List[Count], datetime.datetime], int],
                 window: datetime.timedelta, now: Optional[datetime.datetime] = None) -> int:
    """One authentication attempt against the failure counts of SUBJECTS, in
    one transaction: wait_of([(failures, last_failure)], now) says how long
    it must wait; when 0 it is counted as a failure at once (a success takes
    it back: forgive_attempt), so that parallel attempts each see the others.
    The rows are locked (PostgreSQL, in one order) or the database is
    (SQLite's BEGIN IMMEDIATE). Returns the wait."""
    now = now or utcnow()
    with writing(engine) as conn, conn.begin():
        insert = insert_ignoring(conn, sign_in_failures)
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


def forgive_attempt(engine: Engine, subjects: Sequence[str]) -> None:
    """After a success: the first subject's count (name and address) is
    forgotten, the others lose the failure take_attempt counted."""
    with writing(engine) as conn, conn.begin():
        conn.execute(sign_in_failures.delete().where(sign_in_failures.c.subject == subjects[0]))
        conn.execute(sign_in_failures.update().where(sign_in_failures.c.subject.in_(subjects[1:]))
                     .where(sign_in_failures.c.failures > 0)
                     .values(failures=sign_in_failures.c.failures - 1))


def failure_counts(conn: Connection, subjects: Sequence[str]) -> List[Count]:
    """[(failures, last_failure)] for each subject (0, None when none)."""
    rows = {r.subject: (r.failures, r.last_failure) for r in conn.execute(
        sa.select(sign_in_failures).where(sign_in_failures.c.subject.in_(subjects)))}
    return [rows.get(s, (0, None)) for s in subjects]


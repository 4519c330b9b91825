"""The records' texts, each distinct text kept once in shared_texts: finding
or adding the texts of a new record, and the joins that read them back.

A text is looked up by its digest and then compared whole, so two texts
with the same digest stay two rows. On PostgreSQL a record's transaction
holds a shared advisory lock (TEXTS_LOCK) from before it looks its texts up
until it commits, and prune removes unreferenced texts only under the
exclusive one: a text a new record found cannot go before that record
refers to it. SQLite's single writer gives the same.

A database upgraded from version 5 keeps some records' texts in their own
rows until the service has moved them all (migrate.move_texts): those
records' KIND_id are NULL, and with_unmoved reads their texts.
"""

import json
import types
from typing import Any, Dict, List, Mapping, NamedTuple, Optional, Sequence, Tuple

import sqlalchemy as sa

from . import schema
from .db import Connection, Prepared
from .schema import TEXT_KINDS, records, shared_texts

TEXTS_LOCK = 7731502  # 7731500: upgrade, 7731501: the programs' counters

# The texts lock, then in one statement the texts found and those added,
# one round trip (each statement of the two reads what was committed when it
# began, so the second one after the lock was granted).
# (stored_profiles goes on from TEXTS_PG_WITH to the profile's list.)
TEXTS_PG_LOCK = "SELECT pg_advisory_xact_lock_shared(%d); " % TEXTS_LOCK
TEXTS_PG_WITH = (
    "WITH x AS (SELECT * FROM unnest(%(k)s::text[], %(d)s::text[], %(b)s::text[]) AS x(k, d, b)),"
    # A subquery a text, so an index scan each: with a dozen texts (a
    # profile's sections) a join hashed every body of the table instead.
    " found AS (SELECT x.k, (SELECT min(t.id) FROM shared_texts t WHERE t.digest = x.d AND t.body = x.b) AS id"
    "  FROM x),"
    " added AS (INSERT INTO shared_texts (digest, body) SELECT DISTINCT x.d, x.b FROM x"
    "  WHERE x.k IN (SELECT k FROM found WHERE id IS NULL) RETURNING id, digest, body),"
    " ids AS (SELECT x.k, coalesce(found.id, added.id) AS id FROM x LEFT JOIN found ON found.k = x.k"
    "  LEFT JOIN added ON added.digest = x.d AND added.body = x.b)")
_TEXTS_PG = Prepared("tallowin_texts", TEXTS_PG_WITH + " SELECT k, id FROM ids", TEXTS_PG_LOCK)
_FIND = sa.select(shared_texts.c.id, shared_texts.c.body).where(
    shared_texts.c.digest.in_(sa.bindparam("d", expanding=True))).order_by(shared_texts.c.id)
_ADD = shared_texts.insert()


def text_ids(conn: Connection, bodies: Mapping[str, Optional[str]]) -> Dict[str, Optional[int]]:
    """{kind: id in shared_texts} of a record's texts ({kind: text}; None
    stays None), adding the texts not stored yet. The first thing a record's
    transaction does: on PostgreSQL it takes the texts lock, before any row
    lock, so that it never waits for prune while holding one."""
    given = {k: b for k, b in bodies.items() if b is not None}
    digests = {k: schema.text_digest(b) for k, b in given.items()}
    ids: Dict[str, Optional[int]] = {k: None for k in bodies}
    if conn.dialect.name == "postgresql":
        ids.update(_TEXTS_PG.run(conn, pg_texts(given, digests)).fetchall())
        return ids
    # One look-up for all of them (a profile has a dozen sections).
    added: Dict[str, int] = {}
    for i, b in conn.execute(_FIND, {"d": sorted(set(digests.values()))}).fetchall():
        added.setdefault(b, i)  # the first of equal texts, as on PostgreSQL
    for k, b in given.items():
        if b not in added:  # else found, or two kinds with one text (both empty, say)
            added[b] = conn.execute(_ADD, {"digest": digests[k], "body": b}).inserted_primary_key[0]
        ids[k] = added[b]
    return ids


def pg_texts(given: Mapping[str, str], digests: Mapping[str, str]) -> Dict[str, List[str]]:
    """TEXTS_PG_WITH's parameters for the texts GIVEN ({key: text})."""
    keys = list(given)
    return {"k": keys, "d": [digests[k] for k in keys], "b": [given[k] for k in keys]}


def joined(base) -> Tuple[List, object]:
    """The columns KIND_text of a record's texts and BASE (a FROM clause
    with records in it) joined with shared_texts for them."""
    columns, joins = [], base
    for kind, _ in TEXT_KINDS:
        text = shared_texts.alias(kind + "_texts")
        joins = joins.outerjoin(text, text.c.id == records.c[kind + "_id"])
        columns.append(text.c.body.label(kind + "_text"))
    return columns, joins


class Origin(NamedTuple):
    """Where a record came from: kept in the text records.origin_id names
    (or, for records from before it, in the record's own columns)."""
    sender: str
    user_name: str
    adapter_address: str
    secret_name: Optional[str]


def origin_text(came: Origin) -> str:
    """The text a record's origin is kept as: a PC sends the same one day
    after day, so it is found and shared like the texts."""
    return json.dumps(list(came), ensure_ascii=False)


def with_origin(base) -> Tuple[Any, Any]:
    """The column origin_text (the record's origin, NULL for records that
    keep it in their columns) and BASE (with records in it) joined for it."""
    text = shared_texts.alias("origin_texts")
    return text.c.body.label("origin_text"), base.outerjoin(text, text.c.id == records.c.origin_id)


def origin(row: Any) -> Origin:
    """The origin of a record's ROW (its columns of Origin's fields and
    with_origin's)."""
    if row.origin_text is None:
        return Origin(*(getattr(row, f) for f in Origin._fields))
    return Origin(*json.loads(row.origin_text))


def lock_texts(conn: Connection) -> None:
    """The texts lock, shared (PostgreSQL): for a transaction that makes
    records refer to texts it found."""
    if conn.dialect.name == "postgresql":
        conn.exec_driver_sql("SELECT pg_advisory_xact_lock_shared(%d)" % TEXTS_LOCK)


# The kinds version 5 kept in each record's row (KIND_text).
OLD_KINDS = tuple(kind for kind, optional in TEXT_KINDS if not optional)
# Each place read in one statement: a record moved since the caller's read
# reads right too.
_UNMOVED = sa.text(
    "SELECT r.id, " + ", ".join("coalesce(t_%s.body, r.%s_text) AS %s_text" % (k, k, k) for k in OLD_KINDS)
    + " FROM records r " + " ".join("LEFT JOIN shared_texts t_%s ON t_%s.id = r.%s_id" % (k, k, k) for k in OLD_KINDS)
    + " WHERE r.id IN :ids").bindparams(sa.bindparam("ids", expanding=True))


def with_unmoved(conn: Connection, rows: Sequence[Any]) -> Sequence[Any]:
    """ROWS (each with the record's id and KIND_text columns of joined())
    with the texts of records not moved yet read from their rows. On
    PostgreSQL the old columns cannot go while the caller's transaction,
    which read the records table, lasts."""
    if not rows:
        return rows
    kinds = [k + "_text" for k in OLD_KINDS if k + "_text" in rows[0]._mapping]
    missing = [r.id for r in rows if any(getattr(r, k) is None for k in kinds)]
    if not missing:
        return rows
    found = unmoved(conn, missing)
    return [types.SimpleNamespace(**dict(r._mapping, **found[r.id])) if r.id in found else r for r in rows]


def unmoved(conn: Connection, ids: Sequence[int]) -> Dict[int, Dict[str, Any]]:
    """{id: {"id", "KIND_text": text}} of those of the records IDS that are
    there, their texts wherever they are."""
    found: Dict[int, Dict[str, Any]] = {}
    for chunk in range(0, len(ids), 500):
        found.update((r.id, dict(r._mapping)) for r in conn.execute(_UNMOVED, {"ids": list(ids[chunk:chunk + 500])}))
    return found

"""The records' texts, each distinct text kept once in shared_texts: finding
or adding the texts of a new record, and the joins that read them back.

A text is looked up by its digest and then compared whole, so two texts
with the same digest stay two rows. On PostgreSQL a record's transaction
holds a shared advisory lock (TEXTS_LOCK) from before it looks its texts up
until it commits, and prune removes unreferenced texts only under the
exclusive one: a text a new record found cannot go before that record
refers to it. SQLite's single writer gives the same.
"""

from typing import Dict, List, Mapping, Optional, Tuple

import sqlalchemy as sa

from . import schema
from .db import Connection
from .schema import TEXT_KINDS, records, shared_texts

TEXTS_LOCK = 7731502  # 7731500: upgrade, 7731501: the programs' counters

_FIND_PG = (
    "SELECT x.k, min(t.id) FROM unnest(%(k)s::text[], %(d)s::text[], %(b)s::text[]) AS x(k, d, b)"
    " JOIN shared_texts t ON t.digest = x.d AND t.body = x.b GROUP BY x.k")
_FIND = sa.select(shared_texts.c.id).where(shared_texts.c.digest == sa.bindparam("d"),
                                           shared_texts.c.body == sa.bindparam("b")).order_by(shared_texts.c.id)
_ADD = shared_texts.insert()
_BODY = sa.select(shared_texts.c.body).where(shared_texts.c.id == sa.bindparam("id"))


def hold(conn: Connection) -> None:
    """Keeps prune from removing texts until this transaction ends; the
    first thing a record's transaction does (before any row lock, so that
    it never waits for prune while holding one)."""
    if conn.dialect.name == "postgresql":
        conn.exec_driver_sql("SELECT pg_advisory_xact_lock_shared(%d)" % TEXTS_LOCK)


def text_ids(conn: Connection, bodies: Mapping[str, Optional[str]]) -> Dict[str, Optional[int]]:
    """{kind: id in shared_texts} of a record's texts ({kind: text}; None
    stays None), adding the texts not stored yet."""
    given = {k: b for k, b in bodies.items() if b is not None}
    digests = {k: schema.text_digest(b) for k, b in given.items()}
    if conn.dialect.name == "postgresql":
        kinds = list(given)
        found = dict(conn.exec_driver_sql(_FIND_PG, {"k": kinds, "d": [digests[k] for k in kinds],
                                                     "b": [given[k] for k in kinds]}).fetchall())
    else:
        found = {}
        for k, b in given.items():
            i = conn.execute(_FIND, {"d": digests[k], "b": b}).scalar()
            if i is not None:
                found[k] = i
    ids: Dict[str, Optional[int]] = {k: None for k in bodies}
    added: Dict[str, int] = {}
    for k, b in given.items():
        if k in found:
            ids[k] = found[k]
        elif b in added:  # two kinds with one text (both empty, say)
            ids[k] = added[b]
        else:
            ids[k] = added[b] = conn.execute(_ADD, {"digest": digests[k], "body": b}).inserted_primary_key[0]
    return ids


def body(conn: Connection, text_id: int) -> str:
    return conn.execute(_BODY, {"id": text_id}).scalar()


def joined(base) -> Tuple[List, object]:
    """The columns KIND_text of a record's texts and BASE (a FROM clause
    with records in it) joined with shared_texts for them."""
    columns, joins = [], base
    for kind, _ in TEXT_KINDS:
        text = shared_texts.alias(kind + "_texts")
        joins = joins.outerjoin(text, text.c.id == records.c[kind + "_id"])
        columns.append(text.c.body.label(kind + "_text"))
    return columns, joins

"""The complete profiles, each kept as its sections: a PC's profile of today
differs from yesterday's in a section or two (the memory load, interface
counters), so each section is a text of shared_texts, kept once, and the
record's profile_id refers to the profile's list of them, itself a text of
shared_texts: MARK, then the sections' ids in order, comma-separated.

Joined, the sections give the profile exactly as received (profile.chunks).
A profile text without MARK is one kept whole by an older version: read as it
is until migrate splits it.
"""

from typing import Dict, List, Optional

import sqlalchemy as sa

from . import profile, schema, stored_texts
from .db import Connection
from .schema import shared_texts

# XML 1.0 cannot carry this character, even as a reference: no text received
# begins with it, so a list of sections is never taken for a text.
MARK = "\x01"


# On PostgreSQL the sections and then their list in one round trip, the list
# found or added as the sections are (its digest schema.text_digest's); its
# id in LISTED (a statement may go on from there: ingest's does).
STORE_PG_WITH = stored_texts.TEXTS_PG_WITH + (
    ", l AS (SELECT b, encode(sha256(convert_to(b, 'UTF8')), 'hex') AS d FROM"
    "  (SELECT chr(1) || coalesce(string_agg(id::text, ',' ORDER BY k::integer), '') AS b FROM ids) s),"
    " lf AS (SELECT (SELECT min(t.id) FROM shared_texts t WHERE t.digest = l.d AND t.body = l.b) AS id FROM l),"
    " la AS (INSERT INTO shared_texts (digest, body) SELECT d, b FROM l WHERE (SELECT id FROM lf) IS NULL"
    "  RETURNING id),"
    " listed AS (SELECT coalesce((SELECT id FROM lf), (SELECT id FROM la)) AS id)")
_STORE_PG = stored_texts.TEXTS_PG_LOCK + STORE_PG_WITH + " SELECT id FROM listed"


def store(conn: Connection, text: Optional[str]) -> int:
    """The id in shared_texts of TEXT's list of sections, the sections and
    the list added where not kept yet, the texts lock taken first (as
    stored_texts.text_ids). On PostgreSQL ingest's profile statement does
    the same and goes on to the PC's row."""
    if conn.dialect.name == "postgresql":
        return conn.exec_driver_sql(_STORE_PG, pg_parameters(text)).scalar()
    pieces = {str(i): piece for i, piece in enumerate(profile.chunks(text or ""))}
    ids = stored_texts.text_ids(conn, pieces)
    listed = MARK + ",".join(str(ids[k]) for k in pieces)
    found = stored_texts.text_ids(conn, {"profile": listed})["profile"]
    assert found is not None
    return found


def pg_parameters(text: Optional[str]) -> Dict[str, List[str]]:
    """STORE_PG_WITH's parameters for the profile TEXT."""
    pieces = {str(i): piece for i, piece in enumerate(profile.chunks(text or ""))}
    return stored_texts.pg_texts(pieces, {k: schema.text_digest(p) for k, p in pieces.items()})


def section_ids(body: str) -> List[int]:
    """The sections' ids in a list of sections (BODY begins with MARK)."""
    return [int(i) for i in body[1:].split(",")] if len(body) > 1 else []


def read(conn: Connection, body: Optional[str]) -> Optional[str]:
    """The profile as received from the text its record refers to."""
    if body is None or not body.startswith(MARK):
        return body
    ids = section_ids(body)
    found: Dict[int, str] = dict(conn.execute(
        sa.select(shared_texts.c.id, shared_texts.c.body).where(shared_texts.c.id.in_(set(ids)))).fetchall())
    missing = set(ids) - set(found)
    if missing:
        raise LookupError("a profile's sections %s are not in shared_texts" % sorted(missing))
    return "".join(found[i] for i in ids)


# PostgreSQL finds the lists that name a text through this index (prune asks
# it of every text it would remove); SQLite reads the lists (see unnamed).
SECTIONS_INDEX = ("CREATE INDEX IF NOT EXISTS shared_texts_sections ON shared_texts USING gin"
                  " ((string_to_array(substr(body, 2), ',')::integer[])) WHERE left(body, 1) = chr(1)")
_UNNAMED = sa.text("NOT EXISTS (SELECT 1 FROM shared_texts l WHERE left(l.body, 1) = chr(1)"
                 " AND string_to_array(substr(l.body, 2), ',')::integer[] @> ARRAY[shared_texts.id])")
_LISTS = sa.select(shared_texts.c.body).where(sa.func.substr(shared_texts.c.body, 1, 1) == MARK)


def unnamed(conn: Connection, ids: List[int]):
    """A condition on shared_texts: no profile's list names the text. On
    SQLite, where no index finds them, the lists are read for those of IDS."""
    if conn.dialect.name == "postgresql":
        return _UNNAMED
    wanted, kept = set(ids), set()
    for (body,) in conn.execute(_LISTS):
        kept.update(wanted.intersection(section_ids(body)))
    return shared_texts.c.id.notin_(sorted(kept)) if kept else sa.true()

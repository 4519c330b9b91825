"""The schema: SQLAlchemy Core tables, one definition for SQLite and
PostgreSQL, and the version migrate brings a database up to."""

import functools
import hashlib
from typing import List

import sqlalchemy as sa

SCHEMA_VERSION = 13

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
    # Facts from its latest complete profile (profile.facts); NULL where the
    # profile had none or the PC sent no profile.
    *[sa.Column(name, kind, nullable=True) for name, kind in (
        ("os_name", sa.Text), ("os_version", sa.Text), ("os_build", sa.Integer), ("os_release", sa.Text),
        ("architecture", sa.Text), ("cpu_name", sa.Text), ("cpu_count", sa.Integer), ("cpu_mhz", sa.Integer),
        ("memory_bytes", sa.BigInteger), ("time_zone", sa.Text), ("locale", sa.Text), ("language", sa.Text),
        ("printers", sa.Integer), ("pci_devices", sa.Integer), ("scsi_devices", sa.Integer),
        ("usb_devices", sa.Integer), ("firewire_devices", sa.Integer), ("pcmcia_devices", sa.Integer))],
)
sa.Index("machines_computer_name", machines.c.computer_name)
sa.Index("machines_last_seen", machines.c.last_seen)
# The fleet's breakdowns and filters by Windows, build and memory.
PROFILE_INDEXES = (sa.Index("machines_os_name", machines.c.os_name, machines.c.os_build),
                   sa.Index("machines_os_build", machines.c.os_build),
                   sa.Index("machines_memory_bytes", machines.c.memory_bytes))

# The kinds of text a record carries, and whether a record may lack it. Each
# text is kept once in shared_texts, and a record refers to it by its column
# KIND_id (indexed: see text_reference_indexes). The profile's is the list of
# its sections, each a text too (stored_profiles).
TEXT_KINDS = (("programs", False), ("network", False), ("processor", False), ("profile", True))

# The columns of records that refer to shared_texts: its texts' and its
# origin's (stored_texts.origin_text).
REFERENCE_COLUMNS = tuple(kind + "_id" for kind, _ in TEXT_KINDS) + ("origin_id",)
# A record's references as one array (PostgreSQL): the expression of the
# records_texts index, and what prune asks it.
TEXT_REFERENCES = "ARRAY[" + ", ".join("records." + column for column in REFERENCE_COLUMNS) + "]"


def text_reference_indexes(dialect: str) -> List[str]:
    """The statements that index the records' references to their texts,
    for prune alone (it removes the texts no record refers to any more).
    On PostgreSQL one GIN index over them all, its lists of rows
    compressed: over a year of daily records about 18 bytes a record for
    the five, where a B-tree a column took 7 to 11 each. SQLite has no
    GIN: a B-tree a column. (Without GIN's list of pending entries: its space would stay
    with the index, and a record's transaction would now and then merge it.)"""
    if dialect == "postgresql":
        return ["CREATE INDEX IF NOT EXISTS records_texts ON records USING gin ((%s)) WITH (fastupdate = off)"
                % TEXT_REFERENCES.replace("records.", "")]
    return ["CREATE INDEX IF NOT EXISTS records_%s ON records (%s)" % (column[:-3], column)
            for column in REFERENCE_COLUMNS]

# Every text of every record, each distinct text once: most records repeat
# their machine's previous one. A text is found by its digest, then compared
# whole (two texts may share a digest: the index is not unique).
shared_texts = sa.Table(
    "shared_texts", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("digest", sa.String(64), nullable=False),
    sa.Column("body", sa.Text, nullable=False),
)
sa.Index("shared_texts_digest", shared_texts.c.digest)

# Every record as received, its texts in shared_texts.
records = sa.Table(
    "records", metadata,
    sa.Column("id", sa.Integer, primary_key=True),
    sa.Column("machine_id", sa.Integer, sa.ForeignKey("machines.id"), nullable=False),
    sa.Column("received", sa.DateTime, nullable=False),
    sa.Column("sender", sa.Text, nullable=False),
    sa.Column("user_name", sa.Text, nullable=False),
    sa.Column("adapter_address", sa.Text, nullable=False),
    # No foreign keys: on PostgreSQL each would lock the text's row in every
    # record, and the texts most records share would queue them. Ingest and
    # prune keep the references whole instead (stored_texts).
    *[sa.Column(kind + "_id", sa.Integer, nullable=optional) for kind, optional in TEXT_KINDS],
    # The fields ingest took cut at texts.CAPS, comma-separated ("" for none).
    sa.Column("cut", sa.Text, nullable=False, default="", server_default=""),
    # The name of the enrollment secret the record came with (NULL: none).
    sa.Column("secret_name", sa.Text, nullable=True),
    # The values its texts' moving lines had, deflated (steady: its texts
    # are kept without them); NULL: none, the texts are as received.
    sa.Column("volatile_values", sa.LargeBinary, nullable=True),
    # Where the record came from (sender, user_name, adapter_address and
    # secret_name), kept once in shared_texts for all the records that
    # share it (a PC's, day after day), those four columns then empty. NULL:
    # in those columns (records from before schema 13).
    sa.Column("origin_id", sa.Integer, nullable=True),
)
# A PC's records. Its id alone: PostgreSQL then keeps each PC's records as
# one list of row addresses (6 bytes a record, where (machine_id, id) took 16
# and split its pages as every PC's records came in); a PC's few hundred
# records are sorted when read. (On SQLite the index holds the id anyway.)
sa.Index("records_machine", records.c.machine_id)

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

# The IP addresses and DNS names of each machine's latest record
# (texts.network_names), for the search; kept by ingest.
machine_network_names = sa.Table(
    "machine_network_names", metadata,
    sa.Column("machine_id", sa.Integer, sa.ForeignKey("machines.id"), primary_key=True),
    sa.Column("value", sa.Text, primary_key=True),
)
# Prefix searches (LIKE 'x%') use it on PostgreSQL whatever the collation.
sa.Index("machine_network_names_value", machine_network_names.c.value,
         postgresql_ops={"value": "text_pattern_ops"})

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

# Enrollment secrets a PC sends with its record: hashes only, several at
# once while one replaces another.
enrollment_secrets = sa.Table(
    "enrollment_secrets", metadata,
    sa.Column("name", sa.Text, primary_key=True),
    sa.Column("secret_hash", sa.Text, nullable=False),
    sa.Column("created", sa.DateTime, nullable=False),
)

# Failed authentication attempts (pages and API) per subject (auth.attempt_subjects),
# kept in the database so that every worker and host counts them.
sign_in_failures = sa.Table(
    "sign_in_failures", metadata,
    sa.Column("subject", sa.Text, primary_key=True),
    sa.Column("failures", sa.Integer, nullable=False),
    sa.Column("last_failure", sa.DateTime, nullable=False),
)


def name_hash(name: str) -> str:
    """The catalogue's key of a program name."""
    # Most names come again and again, from machine after machine: the
    # hashes of the short ones are kept (a few MB at most per process).
    return _short_name_hash(name) if len(name) <= 200 else _name_hash(name)


def _name_hash(name: str) -> str:
    return hashlib.sha256(name.encode("utf-8", "surrogatepass")).hexdigest()


_short_name_hash = functools.lru_cache(maxsize=50000)(_name_hash)


def text_digest(body: str) -> str:
    """The key shared_texts finds a text by (not its identity: see
    stored_texts)."""
    return hashlib.sha256(body.encode("utf-8", "surrogatepass")).hexdigest()

"""Ingest on SQLite and PostgreSQL: records kept whole, machines, programs,
changes, one transaction per record, and the statements against the tables."""

import re

import pytest
import sqlalchemy as sa

from conftest import count, rec
from tallowin_service import ingest, queries, schema, statements
from tallowin_service.ingest import Record
from tallowin_service.schema import changes, machine_programs, machines, programs, records


def machine(engine, key):
    with engine.connect() as conn:
        return queries.get_machine(conn, key)


@pytest.mark.parametrize("address, again, network, key", [
    (" 00:0c:29:3a:5b:7f", "00-0C-29-3A-5B-7F ", "NetBIOS Name: PC1$#$", "00-0C-29-3A-5B-7F"),
    # The name's own line (not one that holds its label), trimmed, in capitals.
    ("00-00-00-00-00-00", "", "DNS Host Name: x$#$Interface: NetBIOS Name: X$#$NetBIOS Name:  Office-7 $#$",
     "name:OFFICE-7"),
    ("", "00:00:00:00:00:00", "NetBIOS Name: office-7$#$", "name:OFFICE-7"),
])
def test_machine_identity(engine, address, again, network, key):
    first = ingest.ingest(engine, Record("bob", address, "A$#$", network, ""), "10.0.0.1")
    second = ingest.ingest(engine, Record("carol", again, "A$#$", network, ""), "10.0.0.2")
    m = machine(engine, key)
    assert m["last_user"] == "carol"
    assert m["records"] == 2
    assert m["first_seen"] < m["last_seen"]
    assert m["last_record_id"] == second > first


def test_records_without_an_address_are_told_apart_by_computer_name(engine):
    ingest.ingest(engine, rec(address="00-00-00-00-00-00", name="ALPHA"), "")
    ingest.ingest(engine, rec(address="00-11-22-33-44-55", name="ALPHA"), "")
    for _ in range(2):   # neither address nor name: a PC of its own each, not one for all
        ingest.ingest(engine, rec(address=" ", name=""), "")
    with engine.connect() as conn:
        keys = [m["key"] for m in queries.list_machines(conn, sort="-name")["machines"]]
    assert sorted(keys)[:2] == ["00-11-22-33-44-55", "name:ALPHA"]
    assert len(keys) == 4 and all(k.startswith("unknown:") for k in sorted(keys)[2:])


def test_changes_between_consecutive_records(engine):
    key = "00-0C-29-3A-5B-7F"
    ingest.ingest(engine, rec(["A", "B", "C"]), "")
    ingest.ingest(engine, rec(["A", "C", "D"]), "")
    ingest.ingest(engine, rec(["A", "C", "D"]), "")          # identical: no change rows
    ingest.ingest(engine, rec("D$#$A$#$C$#$D$#$"), "")        # other order, a duplicate: none either
    ingest.ingest(engine, rec([]), "")                        # everything removed
    with engine.connect() as conn:
        h = queries.machine_records(conn, key)["records"]
    assert [(r["added"], r["removed"]) for r in reversed(h)] == [
        ([], []), (["D"], ["B"]), ([], []), ([], []), ([], ["A", "C", "D"])]
    assert count(engine, changes) == 5
    assert machine(engine, key)["current_programs"] == []
    assert count(engine, machine_programs) == 0


def test_counts_queued_while_another_record_adds_to_them_stay_exact(engine):
    """A record that finds the counters' lock taken queues its changes; they
    count at once, and the next record to add takes them along."""
    if engine.dialect.name != "postgresql":
        pytest.skip("SQLite's single writer adds to the counters itself")
    ingest.ingest(engine, rec(["A", "B"], address="00-00-00-00-00-01"), "")
    with engine.connect() as other, other.begin():
        other.execute(sa.select(sa.func.pg_advisory_xact_lock(statements.COUNTERS_LOCK)))
        ingest.ingest(engine, rec(["B", "C"], address="00-00-00-00-00-02"), "")
        ingest.ingest(engine, rec(["A", "C"], address="00-00-00-00-00-01"), "")
        assert count(engine, schema.program_count_queue) > 0
        with engine.connect() as conn:
            assert queries.search_programs(conn)["programs"] == [{"name": "C", "machines": 2},
                                                              {"name": "A", "machines": 1},
                                                              {"name": "B", "machines": 1}]
    ingest.ingest(engine, rec(["C"], address="00-00-00-00-00-02"), "")
    assert count(engine, schema.program_count_queue) == 0
    with engine.connect() as conn:
        kept = dict(conn.execute(sa.select(programs.c.name, schema.program_counts.c.machine_count)
                                 .join(schema.program_counts)).fetchall())
        assert kept == {"A": 1, "B": 0, "C": 2}
        assert queries.fleet_summary(conn)["programs"] == 2


def test_a_failure_inside_the_transaction_leaves_nothing(engine, monkeypatch):
    ingest.ingest(engine, rec(["A"]), "")

    def broken(*_args):
        raise RuntimeError("disk gone")
    monkeypatch.setattr(ingest, "_program_ids", broken)
    with pytest.raises(RuntimeError):
        ingest.ingest(engine, rec(["B"]), "")
    monkeypatch.undo()
    assert count(engine, records) == 1
    m = machine(engine, "00-0C-29-3A-5B-7F")
    assert m["records"] == 1 and m["current_programs"] == ["A"]
    # A new machine's failed first record leaves no machine either.
    monkeypatch.setattr(ingest, "_program_ids", broken)
    with pytest.raises(RuntimeError):
        ingest.ingest(engine, rec(["B"], address="00-00-00-00-00-09"), "")
    assert count(engine, machines) == 1


def test_every_statement_prepares_against_the_tables(engine):
    """The database itself checks each statement of its class (EXPLAIN: it
    plans, nothing runs), so that a column renamed in the schema fails here
    rather than in a request. Every parameter is NULL."""
    def explain(conn, cursor, statement, parameters, context, executemany):
        return "EXPLAIN " + statement, parameters
    with engine.connect() as conn, conn.begin():
        sa.event.listen(conn, "before_cursor_execute", explain, retval=True)
        for name, statement in statements.statements_for(conn).statements().items():
            if isinstance(statement, str):
                conn.exec_driver_sql(statement, {p: None for p in re.findall(r"%\((\w+)\)s", statement)})
            else:
                binds = statement.compile(dialect=conn.dialect).binds
                conn.execute(statement, {p: [None] if b.expanding else None for p, b in binds.items()})

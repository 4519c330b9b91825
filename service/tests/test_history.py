"""A year of records: identical texts kept once, prune, and the upgrade from
version 5 (each record's texts in its row), with every record read back
exactly as received through them all."""

import datetime

import pytest
import sqlalchemy as sa

from conftest import count, layout_of_version_5
from test_ingest import rec
from tallowin_service import cli, db, ingest, migrate, prune, queries, schema
from tallowin_service.ingest import Record

ODD_RECORDS = [
    rec(["Grüße 日本語 Ж", "emoji \U0001F600", "Tom & Jerry <Deluxe> ]]>", "\ufffd replaced"],
        user="Jürgen Müller", name="ÜBER-PC", address="00-00-00-00-AA-01"),
    rec("Name$#$with separator$#$Other$#$", address="00-00-00-00-AA-02"),
    rec(["Program %05d" % i for i in range(3000)] + ["x" * 100000], address="00-00-00-00-AA-03"),
    Record("", "", "", "", ""),
    rec("A$#$$#$A$#$ $#$  indented\r\nB", address="00-00-00-00-AA-04", processor=""),
]


def fill(engine, start):
    """Three PCs a record a day for ten days (the first one's programs change
    on days 4 and 8), then the odd records; {id: record sent}, and the
    records prune of the records older than day 7 removes."""
    sent, gone = {}, set()
    for day in range(10):
        for pc in range(3):
            r = rec(["A", "B"] + (["C%d" % (day // 4)] if pc == 0 else []), address="00-00-00-00-00-0%d" % pc,
                    name="PC%d" % pc, network="NetBIOS Name: PC%d$#$  Packets Sent: %d$#$" % (pc, day * 1000))
            i = ingest.ingest(engine, r, "10.0.0.%d" % pc, received=start + datetime.timedelta(days=day, hours=pc))
            sent[i] = r
            if 0 < day < 7 and (pc, day) != (0, 4):
                gone.add(i)
    for r in ODD_RECORDS:
        sent[ingest.ingest(engine, r, "192.0.2.7", received=start + datetime.timedelta(days=10))] = r
    return sent, gone


def downloads(client, admin, capsys, db_url, ids):
    """Each record as the API gives it, and the dump."""
    capsys.readouterr()
    assert cli.main(["dump", "--db", db_url]) == 0
    answers = {i: client.get("/api/records/%d" % i, headers=admin) for i in ids}
    return {i: a.get_json() if a.status_code == 200 else None for i, a in answers.items()}, capsys.readouterr().out


@pytest.mark.parametrize("collide", [False, True])
def test_identical_texts_are_kept_once(engine, monkeypatch, collide):
    if collide:  # every text with one digest: the texts are still told apart
        monkeypatch.setattr(schema, "text_digest", lambda body: "0" * 64)
    sent = [rec(["A"]), rec(["A"]), rec(["B"]), rec(["A"], processor="P$#$"), rec(["A"])]
    senders = ["", "", "10.0.0.1", "", ""]
    ids = [ingest.ingest(engine, r, s) for r, s in zip(sent, senders)]
    # A, B, the network text, two processor texts, two origins
    assert count(engine, schema.shared_texts) == 7
    with engine.connect() as conn:
        for i, r, s in zip(ids, sent, senders):
            got = queries.get_record(conn, i)
            assert (Record(*(got[k] for k in Record._fields)), got["sender"]) == (r, s)


MOVING = "NetBIOS Name: PC1$#$  Packets Sent: {0:,}$#$  Send Error Rate: $#$  Packets Received: {0}$#$"


@pytest.mark.parametrize("network, processor, profile, kept_once", [
    ("NetBIOS Name: PC1$#$", "Processor Architecture: Intel$#$", None, True),
    (MOVING, "Approximate CPU Clock Rate: {0} MHz$#$", None, True),
    ("NetBIOS Name: PC1$#$Packets Sent: $#$Memory Load: $#$", "Battery Condition: ", None, True),  # empty values
    ("NetBIOS Name: PC1$#$Packets Sent:{0}$#$x Packets Sent: {0}$#$Packets Sent: Packets Sent: {0}",
     "AC Line Status: {0}$#$$#$", None, False),  # garbled: only what begins a line moves
    ("NetBIOS Name: PC1$#$Packets Sent: {0}\x02$#$", "", None, False),  # kept whole, as it came
    (MOVING, "", "Operating System Name: Windows$#$$#$Memory Load: {0}%$#$Total Physical Memory: 8$#$"
     "$#$" + MOVING, True),
])
def test_moving_lines_are_kept_once_and_read_back_as_received(engine, network, processor, profile, kept_once):
    start, sent, kept = db.utcnow() - datetime.timedelta(days=3), {}, []
    for day in range(3):
        r = rec(network=network.format(day * 977), processor=processor.format(day))
        i = ingest.ingest(engine, r, "", received=start + datetime.timedelta(days=day))
        if profile is not None:
            assert ingest.ingest_profile(engine, r.user_name, r.adapter_address, profile.format(day), "",
                                         received=start + datetime.timedelta(days=day, minutes=1)) == i
        sent[i] = r
        kept.append(count(engine, schema.shared_texts))
    assert (kept[1] == kept[2]) == kept_once
    with engine.connect() as conn:
        for day, (i, r) in enumerate(sent.items()):
            got = queries.get_record(conn, i)
            assert Record(*(got[k] for k in Record._fields)) == r
            assert got["profile_text"] == (profile.format(day) if profile is not None else None)
        shown = queries.get_machine(conn, got["machine"])
        assert shown["network"] == [line for line in r.network_text.split("$#$") if line]


def test_records_read_back_as_received_after_an_upgrade_and_prune(db_url, client, engine, admin, capsys,
                                                                 monkeypatch):
    start = db.utcnow() - datetime.timedelta(days=11, hours=12)  # prune --older-than 5: days 0 to 6
    sent, gone = fill(engine, start)
    before, dump = downloads(client, admin, capsys, db_url, sent)
    for i, r in sent.items():
        assert Record(*(before[i][k] for k in Record._fields)) == r
    layout_of_version_5(engine)
    assert migrate.upgrade(engine) == 5  # the texts not moved yet, each read from where it is
    assert downloads(client, admin, capsys, db_url, sent) == (before, dump)
    with engine.connect() as conn:  # the records' indexes, their key's aside
        indexes = dict(conn.exec_driver_sql(
            "SELECT indexname, indexdef FROM pg_indexes WHERE tablename = 'records' AND indexname != 'records_pkey'"
            if db.is_postgresql(engine) else
            "SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name = 'records' AND sql IS NOT NULL").fetchall())
    assert set(indexes) == {"records_machine", *(["records_texts"] if db.is_postgresql(engine) else
                                                 ["records_" + c[:-3] for c in schema.REFERENCE_COLUMNS])}
    assert indexes["records_machine"].endswith("(machine_id)")
    monkeypatch.setattr(migrate, "SHARE_BATCH", 4)
    monkeypatch.setattr(migrate, "LEASE", datetime.timedelta(0))  # a mover stopped: the next takes over
    share = migrate._ids_of_texts
    monkeypatch.setattr(migrate, "_ids_of_texts", lambda conn, bodies: 1 / 0 if calls.append(1) or len(calls) > 2
                        else share(conn, bodies))
    calls = []
    with pytest.raises(ZeroDivisionError):  # stopped half-way, the latest records not moved
        migrate.move_texts(engine)
    assert downloads(client, admin, capsys, db_url, sent) == (before, dump)
    changed = rec(["A", "B", "D"], address="00-00-00-00-00-00", name="PC0")
    sent[ingest.ingest(engine, changed, "10.0.0.9")] = changed
    with engine.connect() as conn:  # compared with its previous record, still in its row
        latest = queries.machine_records(conn, before[min(sent)]["machine"])["records"][0]
        assert (latest["added"], latest["removed"], latest["programs"]) == (["D"], ["C2"], 3)
    monkeypatch.setattr(migrate, "_ids_of_texts", share)
    assert migrate.move_texts(engine) and not migrate.texts_to_move(engine)
    before, dump = downloads(client, admin, capsys, db_url, sent)
    assert Record(*(before[max(sent)][k] for k in Record._fields)) == changed
    changes = count(engine, schema.changes)

    def stop(counts):
        if counts["records"]:
            raise KeyboardInterrupt
    with pytest.raises(KeyboardInterrupt):  # half-way: a batch removed, the rest left
        prune.prune(engine, 5, batch=4, progress=stop)
    assert count(engine, schema.records) < len(sent)
    capsys.readouterr()
    assert cli.main(["prune", "--older-than", "5", "--db", db_url]) == 0
    assert "removed" in capsys.readouterr().out
    after, _ = downloads(client, admin, capsys, db_url, sent)
    assert {i for i, r in after.items() if r is None} == gone
    assert {i: r for i, r in after.items() if i not in gone} == {i: r for i, r in before.items() if i not in gone}
    assert count(engine, schema.changes) == changes
    with engine.connect() as conn:
        counted = dict(conn.execute(sa.select(schema.records.c.machine_id, sa.func.count())
                                    .group_by(schema.records.c.machine_id)).fetchall())
        assert counted == dict(conn.execute(sa.select(schema.machines.c.id, schema.machines.c.record_count)).fetchall())
        used = {i for column in schema.REFERENCE_COLUMNS
                for i in conn.execute(sa.select(schema.records.c[column])).scalars()} - {None}
        assert used == set(conn.execute(sa.select(schema.shared_texts.c.id)).scalars())

"""The queries and tables the pages add to the store: the processor summary,
the whole machine list for CSV, the fleet's activity, the kept session key,
failed sign-ins, and the upgrade from a version-2 or version-3 database."""

import datetime

import pytest
import sqlalchemy as sa

from conftest import envelope, post
from tallowin_service import ingest, store, texts

CPU = ("Processor Architecture: Intel$#$CPU Manufacturer: GenuineIntel$#$Processor Level: Pentium$#$"
       "Approximate CPU Clock Rate: 2400 MHz$#$Number Of Processors: 4$#$")


@pytest.mark.parametrize("text, summary", [
    (CPU, "GenuineIntel, 4 processors, 2400 MHz"),
    ("Processor Architecture: Intel$#$Number Of Processors: 1$#$", "Intel, 1 processor"),
    ("Processor Architecture: Unknown (-1)$#$", "Unknown (-1)"),
    ("", ""),
    ("no label here$#$", ""),
])
def test_processor_summary(text, summary):
    assert texts.processor_summary(text) == summary


def fleet(engine, n, start=datetime.datetime(2026, 1, 1)):
    for i in range(n):
        ingest.ingest(engine, ingest.Record("user%d" % i, "00-00-00-00-01-%02X" % i, "A$#$",
                                            "NetBIOS Name: PC%02d$#$" % (n - i), CPU),
                      "127.0.0.1", received=start + datetime.timedelta(days=i))


def test_iter_machines_is_every_page_of_list_machines(engine):
    fleet(engine, 25)
    with engine.connect() as conn:
        for sort in ("name", "-last_seen", "processor", "-programs"):
            pages = [m for off in range(0, 25, 10)
                     for m in store.list_machines(conn, sort=sort, offset=off, limit=10)["machines"]]
            assert list(store.iter_machines(conn, sort=sort)) == pages
        assert [m["key"] for m in store.iter_machines(conn, q="pc0")] == \
            [m["key"] for m in store.list_machines(conn, q="pc0")["machines"]]
        assert store.list_machines(conn)["machines"][0]["processor"] == "GenuineIntel, 4 processors, 2400 MHz"
        assert len(list(store.iter_program_machines(conn, "A"))) == 25
        assert list(store.iter_program_machines(conn, "no such")) == []


def test_fleet_activity(engine):
    fleet(engine, 10)  # last seen on 1 to 10 January
    now = datetime.datetime(2026, 1, 10, 12)
    with engine.connect() as conn:
        a = store.fleet_activity(conn, silent_days=5, silent_limit=3, now=now)
    assert (a["seen_day"], a["seen_week"]) == (1, 7)
    assert [m["last_seen"][:10] for m in a["silent"]] == ["2026-01-01", "2026-01-02", "2026-01-03"]


def test_setting_is_made_once(engine):
    first = store.setting(engine, "k", lambda: "one")
    assert store.setting(engine, "k", lambda: "two") == first == "one"


def test_sign_in_failures_count_within_the_window(engine):
    window = datetime.timedelta(minutes=15)
    t = datetime.datetime(2026, 1, 1, 12)
    for minute in (0, 1, 2):
        store.add_sign_in_failure(engine, ["name:a", "address:x"], window, now=t + datetime.timedelta(minutes=minute))
    with engine.connect() as conn:
        assert store.sign_in_failures_of(conn, ["name:a", "address:x", "name:b"]) == [
            (3, t + datetime.timedelta(minutes=2)), (3, t + datetime.timedelta(minutes=2)), (0, None)]
    store.add_sign_in_failure(engine, ["name:a"], window, now=t + datetime.timedelta(hours=1))
    with engine.connect() as conn:
        assert store.sign_in_failures_of(conn, ["name:a"])[0][0] == 1  # counting started again
    store.clear_sign_in_failures(engine, ["name:a"])
    with engine.connect() as conn:
        assert store.sign_in_failures_of(conn, ["name:a"]) == [(0, None)]


def back_to_version_3(engine):
    """The programs' counters back in the catalogue's rows, as version 3 kept them."""
    with store.writing(engine) as conn, conn.begin():
        conn.exec_driver_sql("ALTER TABLE programs ADD COLUMN machine_count INTEGER NOT NULL DEFAULT 0")
        conn.exec_driver_sql("UPDATE programs SET machine_count = (SELECT machine_count FROM program_counts"
                             " WHERE program_id = programs.id)")
        conn.exec_driver_sql("CREATE INDEX programs_machine_count ON programs (machine_count)")
        conn.exec_driver_sql("DROP TABLE program_counts")
        conn.execute(store.schema_version.update().values(version=3))


@pytest.mark.parametrize("version", [2, 3])
def test_upgrade_from_an_older_version(db_url, client, engine, version):
    """Version 2 had no processor summary and no tables for the pages;
    version 3 kept the programs' counters in the catalogue's rows."""
    assert post(client, envelope(processor=CPU, programs=["A", "B"])).status_code == 200
    assert post(client, envelope(processor=CPU, programs=["B"], address="00-00-00-00-00-02")).status_code == 200
    back_to_version_3(engine)
    if version == 2:
        with store.writing(engine) as conn, conn.begin():
            for table in ("settings", "sign_in_failures"):
                conn.exec_driver_sql("DROP TABLE %s" % table)
            conn.exec_driver_sql("ALTER TABLE machines DROP COLUMN processor")
            conn.execute(store.schema_version.update().values(version=2))
    assert store.upgrade(engine) == version
    with engine.connect() as conn:
        assert store.list_machines(conn)["machines"][0]["processor"] == "GenuineIntel, 4 processors, 2400 MHz"
        assert conn.execute(sa.select(store.schema_version.c.version)).scalar() == store.SCHEMA_VERSION
        assert store.search_programs(conn)["programs"] == [{"name": "B", "machines": 2},
                                                          {"name": "A", "machines": 1}]
    # The counters go on from where they were.
    assert post(client, envelope(processor=CPU, programs=["C"], address="00-00-00-00-00-02")).status_code == 200
    with engine.connect() as conn:
        assert store.search_programs(conn, sort="name")["programs"] == [
            {"name": "A", "machines": 1}, {"name": "B", "machines": 1}, {"name": "C", "machines": 1}]
    assert store.setting(engine, "k", lambda: "v") == "v"

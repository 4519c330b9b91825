"""The processor summary the lists show, and the upgrades from a database
of the first layout and of version 2."""

import pytest

from conftest import envelope, layout_of_version_5, post
from tallowin_service import db, migrate, page_queries, queries, schema, texts

CPU = ("Processor Architecture: Intel$#$CPU Manufacturer: GenuineIntel$#$Processor Level: Pentium$#$"
       "Approximate CPU Clock Rate: 2400 MHz$#$Number Of Processors: 4$#$")


@pytest.mark.parametrize("text, summary", [
    (CPU, "GenuineIntel, 4 processors, 2400 MHz"),
    ("Processor Architecture: Intel$#$Number Of Processors: 1$#$", "Intel, 1 processor"),
    ("Processor Architecture: Unknown (-1)$#$", "Unknown (-1)"),
    ("no label here$#$", ""),
])
def test_processor_summary(text, summary):
    assert texts.processor_summary(text) == summary


def back_to_version_2(engine):
    """Version 9 had no profiles; version 5 no enrollment secrets; version 4
    had no session generations and no "cut" list, and kept addresses as
    sent; version 3 kept the programs' counters in the catalogue's rows;
    version 2 had no processor summary and no tables for the pages."""
    layout_of_version_5(engine)
    with db.writing(engine) as conn, conn.begin():
        conn.exec_driver_sql("ALTER TABLE administrators DROP COLUMN session_generation")
        conn.exec_driver_sql("ALTER TABLE records DROP COLUMN cut")
        conn.exec_driver_sql("UPDATE machines SET machine_key = '00:0c:29:3a:5b:7f'"
                             " WHERE machine_key = '00-00-00-00-00-03'")
        conn.exec_driver_sql("ALTER TABLE programs ADD COLUMN machine_count INTEGER NOT NULL DEFAULT 0")
        conn.exec_driver_sql("UPDATE programs SET machine_count = (SELECT machine_count FROM program_counts"
                             " WHERE program_id = programs.id)")
        conn.exec_driver_sql("CREATE INDEX programs_machine_count ON programs (machine_count)")
        conn.exec_driver_sql("DROP TABLE program_counts")
        for table in ("settings", "sign_in_failures"):
            conn.exec_driver_sql("DROP TABLE %s" % table)
        conn.exec_driver_sql("ALTER TABLE machines DROP COLUMN processor")
        conn.execute(schema.schema_version.update().values(version=2))


def test_upgrade_from_version_2(db_url, client, engine):
    """Every upgrade from version 2 on, in turn (each version's own is one
    step of the same loop); a PC whose address was kept in another form
    joins the PC of that address, its records and counts along."""
    for address, programs in (("00-0C-29-3A-5B-7F", ["A", "B"]), ("00-00-00-00-00-02", ["B"]),
                              ("00-00-00-00-00-03", ["C"])):
        network = "NetBIOS Name: PC1$#$Fully Qualified Domain Name: pc%s.corp$#$" % address[-1]
        body = envelope(processor=CPU, programs=programs, address=address, network=network)
        assert post(client, body).status_code == 200
    back_to_version_2(engine)
    assert migrate.upgrade(engine) == 2
    with engine.connect() as conn:
        assert page_queries.search_machines(conn, "pc3.corp")["machines"][0]["key"] == "00-0C-29-3A-5B-7F"
        assert queries.list_machines(conn)["machines"][0]["processor"] == "GenuineIntel, 4 processors, 2400 MHz"
        merged = queries.get_machine(conn, "00-0C-29-3A-5B-7F")
        assert (merged["records"], merged["current_programs"]) == (2, ["C"])
        assert [(r["added"], r["removed"]) for r in queries.machine_records(conn, "00-0C-29-3A-5B-7F")["records"]] \
            == [(["C"], ["A", "B"]), ([], [])]   # the history of the two, in order
        assert queries.search_programs(conn)["programs"] == [{"name": "B", "machines": 1},
                                                          {"name": "C", "machines": 1}]
    # The counters go on from where they were.
    assert post(client, envelope(processor=CPU, programs=["C"], address="00-00-00-00-00-02")).status_code == 200
    with engine.connect() as conn:
        assert queries.search_programs(conn, sort="name")["programs"] == [{"name": "C", "machines": 2}]


def test_a_database_of_the_first_layout_is_upgraded(tmp_path):
    """The first layout kept the records alone; they are all kept, in order,
    and become machines, programs and changes."""
    import sqlite3
    path = tmp_path / "old.sqlite"
    old = sqlite3.connect(str(path))
    old.execute("CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, received TEXT NOT NULL,"
               " user_name TEXT NOT NULL, adapter_address TEXT NOT NULL, programs_text TEXT NOT NULL,"
               " network_text TEXT NOT NULL, processor_text TEXT NOT NULL)")
    for when, progs in (("2025-01-02T03:04:05+00:00", "A$#$B$#$"), ("2025-02-02T03:04:05+00:00", "B$#$C$#$")):
        old.execute("INSERT INTO records (received, user_name, adapter_address, programs_text, network_text,"
                   " processor_text) VALUES (?, 'u', '00-0C-29-3A-5B-7F', ?, 'NetBIOS Name: OLD$#$', 'P$#$')",
                   (when, progs))
    old.commit()
    old.close()
    engine = db.create_engine("sqlite:///" + str(path))
    assert migrate.upgrade(engine) == 1
    with engine.connect() as conn:
        h = queries.machine_records(conn, "00-0C-29-3A-5B-7F")["records"]
        assert [r["received"] for r in h] == ["2025-02-02T03:04:05.000000Z", "2025-01-02T03:04:05.000000Z"]
        assert (h[0]["added"], h[0]["removed"]) == (["C"], ["A"])
        assert queries.get_machine(conn, "00-0C-29-3A-5B-7F")["computer_name"] == "OLD"
    assert migrate.upgrade(engine) == schema.SCHEMA_VERSION
    engine.dispose()

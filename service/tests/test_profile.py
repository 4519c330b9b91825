"""The complete profile on SQLite and PostgreSQL: the second operation, the
facts read from the lines, the filters and breakdowns over them, the PC's page."""

import datetime

import pytest
import sqlalchemy as sa

from conftest import SERVICE_PATH, SOAP_HEADERS, count, envelope, post, sign_in
from tallowin_service import db, ingest, migrate, profile, prune, schema
from tallowin_service.queries import get_machine, get_record
from tallowin_service.schema import records, shared_texts
from tallowin_service.stored_profiles import MARK
from test_ingest import rec


def lines(os_name, build, memory, sp="", printers=1, major=10, minor=0):
    """A complete profile as the control prints it (shortened sections)."""
    out = ["Operating System Name: " + os_name, "Operating System Major Version: %d" % major,
           "Operating System Minor Version: %d" % minor, "Operating System Build Number: %d" % build,
           "Service Pack Description: " + sp, "", "7-Zip 23.01 (x64)", "", "Processor Architecture: Intel",
           "CPU Manufacturer: GenuineIntel", "Approximate CPU Clock Rate: 2,904 MHz", "Number Of Processors: 8", "",
           "AC Line Status: Online", "", "Memory Load: 31%", "Total Physical Memory: %s" % memory, "",
           "COM1:", "", "PCI Adapter Name: Bridge", "", "No SCSI Devices Found", "", "USB Device Name: Hub",
           "", "USB Device Name: Mouse", "", "No IEEE1394/FireWire Devices Found", "", "No PCMCIA Cards Found",
           "", "NetBIOS Name: PC1", "", "Keyboard Type: IBM enhanced (101- or 102-key) keyboard", "",
           "Locale ID: 1031 / 0x407", "Language Name (in English): German", "", "Currently On: Standard Time",
           "Standard Time Name: W. Europe Standard Time", ""]
    for i in range(printers):
        out += ([""] if i else []) + ["Printer %d" % i, "  Port: LPT1:"]
    return "".join(line + "$#$" for line in out)


WIN11 = lines("Windows 11 Pro", 22631, "17,054,724,096 bytes (15.88 GB)")
WIN10 = lines("Windows 10 Enterprise", 19045, "8.589.934.592 bytes (8,00 GB)")
XP = lines("Windows XP Professional", 2600, "536,330,240 bytes (511.48 MB)", sp="Service Pack 3", major=5, minor=1)


@pytest.mark.parametrize("text, expected", [
    (WIN11, {"os_name": "Windows 11 Pro", "os_version": "10.0", "os_build": 22631, "memory_bytes": 17054724096,
             "cpu_count": 8, "cpu_mhz": 2904, "cpu_name": "GenuineIntel", "printers": 1, "usb_devices": 2,
             "scsi_devices": 0, "time_zone": "W. Europe Standard Time", "locale": "1031 / 0x407", "language": "German"}),
    (WIN10, {"os_name": "Windows 10 Enterprise", "memory_bytes": 8589934592, "os_release": None}),
    (XP, {"os_version": "5.1", "os_build": 2600, "os_release": "Service Pack 3", "memory_bytes": 536330240}),
    # Sections missing or garbled: what cannot be read stays empty.
    ("Operating System Build Number: 9" + "9" * 20 + "$#$Total Physical Memory: lots$#$x: $#$$#$",
     {"os_build": None, "memory_bytes": None, "os_name": None, "printers": 0}),
    ("", {"os_name": None, "printers": None}),
    # "$#$#$" is a line, then one that begins with "#$": no Locale ID line.
    ("Operating System Name: A$#$#$Locale ID: 7$#$  Port: $#$", {"os_name": "A", "locale": None, "printers": 1}),
])
def test_facts_by_label(text, expected):
    got = profile.facts(text)
    assert {k: got[k] for k in expected} == expected


def send_profile(client, text, user="alice", address="00-0C-29-3A-5B-7F", by_spyne=False):
    body = envelope("setSaveProfileInformation", [("UserName", user), ("AdapterAddress", address),
                                                  ("ProfileText", text)])
    if by_spyne:   # a comment in the call is valid, but leaves the reading to spyne
        body = body.replace(b"<AdapterAddress>", b"<!-- --><AdapterAddress>")
    return client.post(SERVICE_PATH, data=body, headers=dict(SOAP_HEADERS, SOAPAction='"setSaveProfileInformation"'))


def test_profiles_answer_which_pcs_run_what(client, engine, admin):
    fleet = [("00-0C-29-00-00-01", WIN11), ("00-0C-29-00-00-02", WIN10), ("00-0C-29-00-00-03", XP)]
    for address, text in fleet:
        assert post(client, envelope(address=address)).status_code == 200
        assert send_profile(client, text, address=address).status_code == 200
    assert send_profile(client, WIN11, user="mallory", address=fleet[0][0]).status_code == 500
    m = client.get("/api/machines/00-0C-29-00-00-01", headers=admin).get_json()
    assert m["profile"][0] == {"section": "Operating system", "lines": WIN11.split("$#$")[:5]}

    def keys(query):
        return [r["key"][-2:] for r in client.get("/api/machines?sort=address&" + query,
                                                  headers=admin).get_json()["machines"]]
    assert keys("os=windows 1") == ["01", "02"]
    assert keys("build=2600") == ["03"]
    assert keys("memory_below=8") == ["03"]
    assert keys("memory_from=8&memory_below=16") == ["01", "02"]
    assert client.get("/api/machines?build=x", headers=admin).status_code == 400
    memory = client.get("/api/breakdown?by=memory", headers=admin).get_json()["groups"]
    assert [(g["value"], g["machines"]) for g in memory] == [("under 4 GB", 1), ("8-16 GB", 2)]
    builds = client.get("/api/breakdown?by=build", headers=admin).get_json()["groups"]
    assert builds[0]["filter"] in ({"os": "Windows 10 Enterprise", "build": 19045},
                                   {"os": "Windows 11 Pro", "build": 22631})
    assert client.get("/api/breakdown?by=os&format=csv", headers=admin).get_data(as_text=True).count("\n") == 4
    assert sign_in(client).status_code == 302
    page = client.get("/").get_data(as_text=True)
    assert "Windows XP Professional" in page and "memory_below=4" in page
    page = client.get("/machines/00-0C-29-00-00-03").get_data(as_text=True)
    assert "<details><summary>Printers" in page and "511" in page


def test_the_plain_profile_is_answered_as_spyne_answers_it(client, engine, admin):
    def answers(text):
        return [(a.status_code, a.headers["Content-Type"], a.data)
                for a in (send_profile(client, text, by_spyne=True), send_profile(client, text))]
    # Without its record first (or from another user), refused and kept nowhere.
    refused = answers(WIN11)
    assert refused[0] == refused[1] and refused[0][0] == 500 and b"faultstring>no record" in refused[0][2]
    assert post(client, envelope()).status_code == 200
    taken = answers(WIN10)
    assert taken[0] == taken[1] and taken[0][0] == 200
    assert client.get("/api/machines/00-0C-29-3A-5B-7F", headers=admin).get_json()["os_build"] == 19045
    with engine.connect() as conn:
        assert conn.execute(sa.select(sa.func.count()).where(shared_texts.c.body.startswith(MARK))).scalar() == 1


def test_a_thousand_printers(engine):
    ingest.ingest(engine, ingest.Record("ann", "00-0C-29-00-00-09", "", "NetBIOS Name: BIG$#$", ""), "")
    record = ingest.ingest_profile(engine, "ann", "00-0C-29-00-00-09", lines("W", 1, "1 bytes", printers=1000), "")
    with engine.connect() as conn:
        m = get_machine(conn, "00-0C-29-00-00-09")
    assert (m["printers"], m["last_record_id"]) == (1000, record)
    sections = dict((s["section"], s["lines"]) for s in m["profile"])
    assert list(sections)[:3] == ["Operating system", "Installed programs", "Processor"]
    assert len(sections["Printers"]) == 2999 and sections["Printers"][-3:] == ["", "Printer 999", "  Port: LPT1:"]


# The load moves day to day (kept with the record), the memory itself once.
DAILY = [WIN11.replace("Memory Load: 31%", "Memory Load: %d%%" % load).replace("15.88", size)
         for load, size in ((31, "15.88"), (47, "15.88"), (12, "31.76"))]


@pytest.mark.parametrize("sent, added", [
    # A day's profile adds only a section that changed, and its list.
    (DAILY, [len(profile.chunks(WIN11)) + 1, 0, 2]),
    # No section at all (one piece), two pieces, nothing (no piece).
    (["Garbled \r\n$#$Memory Load:", "Memory Load: 5%$#$$#$COM1:", ""], [2, 3, 1]),
])
def test_daily_profiles_keep_only_their_changed_sections(engine, monkeypatch, sent, added):
    day = db.utcnow() - datetime.timedelta(days=3)
    ids, grown = [], []
    for i, text in enumerate(sent):
        before = count(engine, shared_texts)
        ingest.ingest(engine, rec(), "", received=day + datetime.timedelta(days=i))
        ids.append(ingest.ingest_profile(engine, "alice", "00-0C-29-3A-5B-7F", text, "",
                                         received=day + datetime.timedelta(days=i)))
        grown.append(count(engine, shared_texts) - before - (i == 0) * 4)  # the record's own three texts and its origin
    assert grown == added

    def read_back(which=ids):
        with engine.connect() as conn:
            return [get_record(conn, i)["profile_text"] for i in which]
    assert read_back() == sent
    # As version 10 kept them, whole: the upgrade splits them, a record a batch.
    with db.writing(engine) as conn, conn.begin():
        for i, text in zip(ids, sent):
            whole = conn.execute(shared_texts.insert().values(digest="", body=text)).inserted_primary_key[0]
            conn.execute(records.update().where(records.c.id == i).values(profile_id=whole, volatile_values=None))
        conn.execute(schema.schema_version.update().values(version=10))
    monkeypatch.setattr(migrate, "SHARE_BATCH", 1)
    assert migrate.upgrade(engine) == 10 and read_back() == sent
    assert migrate.texts_to_move(engine) and migrate.move_texts(engine) and read_back() == sent
    with engine.connect() as conn:
        assert all(b.startswith(MARK) for b in conn.execute(
            sa.select(shared_texts.c.body).join(records, records.c.profile_id == shared_texts.c.id)).scalars())
    # The second day's record goes (neither first, latest nor a change), and
    # its sections no other profile has, and the whole texts, with it.
    assert prune.prune(engine, 2)["records"] == 1
    assert count(engine, shared_texts) == 4 + sum(added) - added[1]
    assert read_back(ids[::2]) == sent[::2]

"""The JSON API on SQLite and PostgreSQL, and who may ask: every route
wants an administrator; the filters and the bad parameters in one table."""

import csv
import datetime
import io
import urllib.parse

import pytest

from conftest import basic, sign_in
from tallowin_service import ingest
from tallowin_service.ingest import Record

PC1 = "00-0C-29-3A-5B-7F"
API = ["/api/machines", "/api/machines/" + PC1, "/api/machines/%s/records" % PC1, "/api/records", "/api/records/1",
       "/api/programs?q=a", "/api/program-machines?name=A", "/api/summary", "/api/breakdown?by=os"]
PAGES = ["/", "/machines?q=x&sort=user", "/machines/" + PC1, "/machines.csv", "/programs", "/program?name=A",
         "/program.csv?name=A", "/machines/%s/records/1/programs.txt" % PC1, "/search?q=a", "/changes",
         "/programs/machines?q=a"]


def fleet(engine):
    """Three machines: PC1 (two records, a change), PC2, and a silent one."""
    intel, old = "Processor Architecture: Intel$#$", datetime.datetime(2020, 1, 1)
    for user, address, programs, name, processor, sender, received in (
            ("alice", PC1, "Alpha$#$Beta$#$", "PC1", intel, "10.0.0.1", None),
            ("alice", PC1, "Alpha$#$Gamma 100%_x$#$", "PC1", intel, "10.0.0.1", None),
            ("bob", "00-11-22-33-44-55", "Alpha$#$=cmd()$#$", "PC2", "", "10.0.0.2", None),
            ("=HYPERLINK()", "", "Beta$#$", "OLDBOX", "", "10.0.0.3", old)):
        ingest.ingest(engine, Record(user, address, programs, "NetBIOS Name: %s$#$" % name, processor), sender,
                      received=received)


@pytest.mark.parametrize("path", API + PAGES)
def test_every_route_wants_an_administrator(client, engine, admin, path):
    fleet(engine)
    if path.startswith("/api"):
        for headers in ({}, basic("admin", "wrong"), basic("nobody", "s3cret"), {"Authorization": "Bearer s3cret"}):
            r = client.get(path, headers=headers)
            assert r.status_code == 401 and r.headers["WWW-Authenticate"].startswith("Basic "), headers
        assert client.get(path, headers=admin).status_code == 200
    else:
        location = urllib.parse.urlsplit(client.get(path).headers["Location"])
        assert location.path == "/sign-in" and urllib.parse.parse_qs(location.query)["next"] == [path]
        sign_in(client)
        assert client.get(path).status_code == 200


NAMED = ["name:OLDBOX", PC1, "00-11-22-33-44-55"]
HUGE = "100000000000000000000"


@pytest.mark.parametrize("url, status, listed", [
    ("/api/machines", 200, NAMED),
    ("/api/machines?q=pc", 200, NAMED[1:]),
    ("/api/machines?q=44-55", 200, NAMED[2:]),
    ("/api/machines?q=BOB", 200, NAMED[2:]),
    ("/api/machines?q=%25", 200, []),                  # a literal %, not a wildcard
    ("/api/machines?silent_days=30", 200, NAMED[:1]),
    ("/api/machines?sort=-name", 200, NAMED[::-1]),
    ("/api/machines?sort=-records&limit=1", 200, [PC1]),
    ("/api/machines?sort=name&offset=1&limit=1", 200, [PC1]),
    ("/api/machines?limit=5000", 200, None),
    ("/api/programs?q=a_", 200, []),                   # _ is no wildcard either
    ("/api/program-machines?name=alpha", 200, []),     # a name is matched whole
    ("/api/program-machines", 400, None),
    ("/api/machines?limit=0", 400, None),
    ("/api/machines?sort=colour", 400, None), ("/api/machines?silent_days=soon", 400, None),
    ("/api/machines?silent_days=999999999", 400, None), ("/api/machines?offset=" + HUGE, 400, None),
    ("/api/records/99999999999999999999", 404, None),
    ("/api/machines?q=a%00b", 400, None), ("/machines/A%00B", 400, None),   # NUL, which PostgreSQL refuses
    ("/machines?silent=999999999", 200, None), ("/machines?page=" + HUGE, 302, None),
    ("/machines/%s?hpage=%s&ppage=%s" % (PC1, HUGE, HUGE), 302, None),
    ("/machines/%s/records/99999999999999999999/programs.txt" % PC1, 404, None),
])
def test_filters_and_parameters_checked_before_the_database(client, engine, admin, url, status, listed):
    fleet(engine)
    sign_in(client)
    r = client.get(url, headers=admin)
    assert r.status_code == status
    if listed is not None:
        page = r.get_json()
        items = page.get("machines", page.get("programs"))
        assert [i.get("key", i.get("name")) for i in items] == listed
        assert "limit" in url or page["total"] == len(listed)


def test_program_machines_unknown_keys_and_the_summary(client, engine, admin):
    # What a machine, its records and the programs' list hold: the ingest tests, over the same queries.
    fleet(engine)
    assert client.get("/api/machines/name:OLDBOX", headers=admin).get_json()["last_user"] == "=HYPERLINK()"
    names = client.get("/api/program-machines?name=Alpha", headers=admin).get_json()
    assert [m["computer_name"] for m in names["machines"]] == ["PC1", "PC2"]
    for url in ("/api/machines/FF-FF", "/api/machines/FF-FF/records", "/api/records/999"):
        assert client.get(url, headers=admin).status_code == 404
    s = client.get("/api/summary", headers=admin).get_json()
    assert (s["machines"], s["records"], s["programs"], s["silent"]) == (3, 4, 4, 1)
    assert s["widespread"][0] == {"name": "Alpha", "machines": 2} and len(s["widespread"]) == 4
    assert [(c["program"], c["added"]) for c in s["latest_changes"]] == [("Gamma 100%_x", True), ("Beta", False)]


FORMULAS = ["=1+1", "+1", "-1", "@SUM(A1)", "\t=1", "\r=1", " =1", "\n=1", "|cmd", "%0A",
            "\uff1d1", "\uff0b1", "\uff0d1", "\uff20x"]


@pytest.mark.parametrize("path", ["/api/machines?format=csv", "/api/program-machines?format=csv&name=P",
                                  "/machines.csv", "/program.csv?name=P"])
def test_csv_forms_defuse_formulas(client, engine, admin, path):
    for i, user in enumerate(FORMULAS + ["plain", "a=b"]):
        ingest.ingest(engine, Record(user, "00-00-00-00-00-%02X" % i, "P$#$", "NetBIOS Name: PC%02d$#$" % i, ""), "")
    sign_in(client)
    r = client.get(path, headers=admin)
    assert r.mimetype == "text/csv"
    rows = list(csv.DictReader(io.StringIO(r.get_data(as_text=True))))
    assert sorted(row["last_user"] for row in rows) == sorted(["'" + f for f in FORMULAS] + ["plain", "a=b"])

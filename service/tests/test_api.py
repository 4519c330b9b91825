"""The JSON API on SQLite and PostgreSQL: credentials, filters, paging,
sorting, the machine, its records, programs, CSV."""

import csv
import datetime
import io
import re

import pytest

from conftest import basic
from tallowin_service import auth, ingest
from tallowin_service.ingest import Record

ENDPOINTS = ["/api/machines", "/api/machines/00-0C-29-3A-5B-7F", "/api/machines/00-0C-29-3A-5B-7F/records",
             "/api/records", "/api/records/1", "/api/programs?q=a", "/api/program-machines?name=A",
             "/api/summary", "/api/machines?format=csv"]


def fleet(engine):
    """Three machines: PC1 (two records, a change), PC2, and a silent one."""
    old = datetime.datetime(2020, 1, 1)
    ingest.ingest(engine, Record("alice", "00-0C-29-3A-5B-7F", "Alpha$#$Beta$#$",
                                 "NetBIOS Name: PC1$#$", "Processor Architecture: Intel$#$"), "10.0.0.1")
    ingest.ingest(engine, Record("alice", "00-0C-29-3A-5B-7F", "Alpha$#$Gamma 100%_x$#$",
                                 "NetBIOS Name: PC1$#$", "Processor Architecture: Intel$#$"), "10.0.0.1")
    ingest.ingest(engine, Record("bob", "00-11-22-33-44-55", "Alpha$#$=cmd()$#$",
                                 "NetBIOS Name: PC2$#$", ""), "10.0.0.2")
    ingest.ingest(engine, Record("=HYPERLINK()", "", "Beta$#$", "NetBIOS Name: OLDBOX$#$", ""),
                  "10.0.0.3", received=old)


@pytest.mark.parametrize("headers", [{}, basic("admin", "wrong"), basic("nobody", "s3cret"),
                                     {"Authorization": "Bearer s3cret"}])
def test_every_endpoint_wants_an_administrator(client, engine, admin, headers):
    fleet(engine)
    for url in ENDPOINTS:
        r = client.get(url, headers=headers)
        assert r.status_code in (401, 429), url   # 429 once the failures must wait
        assert r.headers.get("WWW-Authenticate", "Basic ").startswith("Basic ")
        assert client.get(url, headers=admin).status_code == 200, url


def test_a_new_password_replaces_the_old(client, engine, admin):
    auth.set_admin(engine, "admin", "other")
    assert client.get("/api/machines", headers=admin).status_code == 401
    assert client.get("/api/machines", headers=basic("admin", "other")).status_code == 200
    with pytest.raises(auth.AdminError):
        auth.set_admin(engine, "admin", "")


@pytest.mark.parametrize("query, keys", [
    ("", ["name:OLDBOX", "00-0C-29-3A-5B-7F", "00-11-22-33-44-55"]),
    ("?q=pc", ["00-0C-29-3A-5B-7F", "00-11-22-33-44-55"]),
    ("?q=44-55", ["00-11-22-33-44-55"]),
    ("?q=BOB", ["00-11-22-33-44-55"]),
    ("?q=%25", []),                              # a literal %, not a wildcard
    ("?silent_days=30", ["name:OLDBOX"]),
    ("?sort=-name", ["00-11-22-33-44-55", "00-0C-29-3A-5B-7F", "name:OLDBOX"]),
    ("?sort=-records&limit=1", ["00-0C-29-3A-5B-7F"]),
    ("?sort=name&offset=1&limit=1", ["00-0C-29-3A-5B-7F"]),
    ("?sort=last_seen", ["name:OLDBOX", "00-0C-29-3A-5B-7F", "00-11-22-33-44-55"]),
])
def test_machine_list(client, engine, admin, query, keys):
    fleet(engine)
    page = client.get("/api/machines" + query, headers=admin).get_json()
    assert [m["key"] for m in page["machines"]] == keys
    if "limit" not in query:
        assert page["total"] == len(keys)


def test_one_machine_and_its_records(client, engine, admin):
    fleet(engine)
    m = client.get("/api/machines/00-0C-29-3A-5B-7F", headers=admin).get_json()
    assert (m["computer_name"], m["last_user"], m["records"]) == ("PC1", "alice", 2)
    assert m["current_programs"] == ["Alpha", "Gamma 100%_x"]
    assert m["processor"] == ["Processor Architecture: Intel"]
    assert m["network"] == ["NetBIOS Name: PC1"]
    h = client.get("/api/machines/00-0C-29-3A-5B-7F/records", headers=admin).get_json()
    assert [(r["added"], r["removed"], r["sender"]) for r in h["records"]] == [
        (["Gamma 100%_x"], ["Beta"], "10.0.0.1"), ([], [], "10.0.0.1")]
    whole = client.get("/api/records/%d" % h["records"][0]["id"], headers=admin).get_json()
    assert whole["programs_text"] == "Alpha$#$Gamma 100%_x$#$"
    assert client.get("/api/machines/name:OLDBOX", headers=admin).get_json()["last_user"] == "=HYPERLINK()"
    for url in ("/api/machines/FF-FF", "/api/machines/FF-FF/records", "/api/records/999"):
        assert client.get(url, headers=admin).status_code == 404


def test_programs_and_their_machines(client, engine, admin):
    fleet(engine)
    got = client.get("/api/programs", headers=admin).get_json()["programs"]
    assert got[0] == {"name": "Alpha", "machines": 2}
    assert {p["name"] for p in got} == {"Alpha", "Beta", "Gamma 100%_x", "=cmd()"}
    assert client.get("/api/programs?q=_x", headers=admin).get_json()["programs"] == [
        {"name": "Gamma 100%_x", "machines": 1}]
    assert client.get("/api/programs?q=a_", headers=admin).get_json()["total"] == 0
    names = client.get("/api/program-machines?name=Alpha", headers=admin).get_json()
    assert [m["computer_name"] for m in names["machines"]] == ["PC1", "PC2"]
    assert client.get("/api/program-machines?name=alpha", headers=admin).get_json()["total"] == 0
    assert client.get("/api/program-machines", headers=admin).status_code == 400


FORMULAS = ["=1+1", "+1", "-1", "@SUM(A1)", "\t=1", "\r=1", " =1", "\n=1", "|cmd", "%0A",
            "\uff1d1", "\uff0b1", "\uff0d1", "\uff20x"]


@pytest.mark.parametrize("path", ["/api/machines?format=csv", "/api/program-machines?format=csv&name=P",
                                  "/machines.csv", "/program.csv?name=P"])
def test_csv_forms_defuse_formulas(client, engine, admin, path):
    for i, user in enumerate(FORMULAS + ["plain", "a=b"]):
        ingest.ingest(engine, Record(user, "00-00-00-00-00-%02X" % i, "P$#$", "NetBIOS Name: PC%02d$#$" % i, ""), "")
    if not path.startswith("/api"):
        client.post("/sign-in", data={"csrf_token": re.search(r'csrf_token" value="([^"]+)', client.get(
            "/sign-in").get_data(as_text=True)).group(1), "name": "admin", "password": "s3cret"})
    r = client.get(path, headers=admin)
    assert r.mimetype == "text/csv"
    rows = list(csv.DictReader(io.StringIO(r.get_data(as_text=True))))
    column = "last_user"
    assert sorted(row[column] for row in rows) == sorted(["'" + f for f in FORMULAS] + ["plain", "a=b"])


@pytest.mark.parametrize("url, status", [
    ("/api/machines?limit=5000", 200), ("/api/machines?limit=0", 400), ("/api/machines?limit=x", 400),
    ("/api/machines?offset=-1", 400), ("/api/machines?sort=colour", 400), ("/api/machines?silent_days=soon", 400),
    ("/api/machines?silent_days=999999999", 400),
    ("/api/machines?offset=100000000000000000000", 400),
    ("/api/machines?limit=100000000000000000000", 400),
    ("/api/summary?silent_days=999999999", 400),
    ("/api/records/99999999999999999999", 404),
    ("/api/machines?q=a%00b", 400),
    ("/api/programs?q=%00", 400),
    ("/api/machines/A%00B", 400),
    ("/machines?silent=999999999", 200),
    ("/machines?page=100000000000000000000", 302),
    ("/machines/00-0C-29-3A-5B-7F?hpage=100000000000000000000&ppage=100000000000000000000", 302),
    ("/machines/00-0C-29-3A-5B-7F/records/99999999999999999999/programs.txt", 404),
    ("/machines/00-0C-29-3A-5B-7F?pq=%00", 400),
    ("/programs?q=%00", 400),
    ("/program?name=%00", 400),
    ("/machines/A%00B", 400),
])
def test_every_parameter_is_checked_before_the_database(client, engine, admin, url, status):
    fleet(engine)
    form = client.get("/sign-in").get_data(as_text=True)
    csrf = re.search(r'csrf_token" value="([^"]+)', form).group(1)
    assert client.post("/sign-in", data={"csrf_token": csrf, "name": "x\0", "password": "x"}).status_code == 400
    client.post("/sign-in", data={"csrf_token": csrf, "name": "admin", "password": "s3cret"})
    assert client.get(url, headers=admin).status_code == status


def test_summary(client, engine, admin):
    fleet(engine)
    s = client.get("/api/summary", headers=admin).get_json()
    assert (s["machines"], s["records"], s["programs"], s["silent"]) == (3, 4, 4, 1)
    assert s["widespread"][0] == {"name": "Alpha", "machines": 2}
    assert len(s["widespread"]) == 4
    assert [(c["program"], c["added"]) for c in s["latest_changes"]] == [("Gamma 100%_x", True), ("Beta", False)]

"""The pages through Flask's test client: sign-in and its protections, the
security headers, labels, the lists, search, changes and the downloads. Who
may see each page: test_api; the pages in Chromium: tests/browser."""

import csv
import datetime
import io
import re
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import SERVICE_PATH as SOAP, basic, envelope, post, sign_in, token
from tallowin_service import accounts, auth, db, ingest, queries, schema
from tallowin_service.app import create_app

TOO_BIG = b"x" * (1024 * 1024 + 1)


@pytest.fixture
def signed_in(client, engine):
    auth.set_admin(engine, "admin", "s3cret")
    assert sign_in(client).status_code == 302
    return client


def test_sign_in_and_out_and_their_forms(client, engine):
    """Forms without the session's token change nothing; sign-in leads back
    only within this site; a session ends on the server at sign-out and at
    a new password."""
    auth.set_admin(engine, "admin", "s3cret")
    csrf = token(client.get("/sign-in"))
    for form in ({}, {"csrf_token": "forged"}, {"csrf_token": csrf, "name": "x\0"}):
        assert client.post("/sign-in", data=dict({"name": "admin", "password": "s3cret"}, **form)).status_code == 400
        assert client.get("/").status_code == 302  # still signed out
    page = sign_in(client, password="wrong").get_data(as_text=True)   # the focus goes to the password
    assert re.search(r'id="password"[^>]* autofocus', page) and not re.search(r'id="name"[^>]* autofocus', page)
    for target in ("/programs?q=a", "//evil.example/", "https://evil.example/", "/\\evil.example", "javascript:x"):
        assert sign_in(client, next_path=target).headers["Location"] == (target if target[1] == "p" else "/")
        cookie = next(c.value for c in client.cookie_jar if c.name == "tallowin_session")
        assert client.post("/sign-out", data={"csrf_token": "forged"}).status_code == 400
        assert client.get("/").status_code == 200  # still signed in
        assert client.post("/sign-out", data={"csrf_token": token(client.get("/"))}).status_code == 302
        client.set_cookie("localhost", "tallowin_session", cookie)   # the cookie replayed
        assert client.get("/").status_code == 302
    sign_in(client)
    auth.set_admin(engine, "admin", "n3w")
    assert client.get("/").status_code == 302
    assert [client.get("/api/summary", headers=basic("admin", p)).status_code for p in ("s3cret", "n3w")] == [401, 200]


# Steps: (via the API or the sign-in page, name, password, address, status,
# Retry-After); ("tick", seconds); ("parallel",): sixteen wrong attempts at
# once, one heard; ("checks", n): password checks made so far.
W = ("api", "admin", "wrong", "1")
THROTTLE = {
    "waits double on the API and the pages": [(*W, 401)] * auth.PAIR_FREE + [
        ("page", "admin", "s3cret", "1", 429, "2"), ("tick", 3), (*W, 401), ("api", "admin", "s3cret", "1", 429, "4"),
        ("tick", 300), ("page", "admin", "s3cret", "1", 302)],
    "one heard per wait in parallel": [(*W, 401)] * auth.PAIR_FREE + [("tick", 3), ("parallel",)],
    "the name's budget binds only addresses that failed": [("api", "admin", "wrong", str(i), 401) for i in range(3)]
    + [("api", "admin", "wrong", "0", 429), ("api", "ADMIN", "wrong", "1", 429),   # the name in any case
       ("api", "admin", "s3cret", "9", 200), ("page", "admin", "s3cret", "9", 302)],   # the owner, elsewhere
    "an unknown name costs a password check": [("api", "nobody", "s3cret", "1", 401), ("checks", 1),
                                               ("page", "nobody", "s3cret", "1", 401), ("checks", 2),
                                               ("api", "bad\0name", "x", "1", 401), ("checks", 3)],
}


def attempt(client, via, name, password, address):
    address = "10.0.0." + address
    if via == "page":
        return sign_in(client, name, password, address=address)
    return client.get("/api/summary", headers=basic(name, password), environ_base={"REMOTE_ADDR": address})


@pytest.mark.parametrize("case", list(THROTTLE))
def test_failed_attempts_are_slowed_down(client, engine, monkeypatch, case):
    clock, checks, real = [datetime.datetime(2026, 1, 1, 12)], [], auth.check_password_hash
    monkeypatch.setattr(accounts, "utcnow", lambda: clock[0])
    monkeypatch.setattr(auth, "check_password_hash", lambda *a: checks.append(1) or real(*a))
    monkeypatch.setattr(auth, "NAME_FREE", 3 if "budget" in case else auth.NAME_FREE)
    auth.set_admin(engine, "admin", "s3cret")
    for step in THROTTLE[case]:
        if step[0] == "tick":
            clock[0] += datetime.timedelta(seconds=step[1])
        elif step[0] == "checks":
            assert len(checks) == step[1]
        elif step[0] == "parallel":
            start = threading.Barrier(16)
            with ThreadPoolExecutor(16) as pool:
                statuses = pool.map(lambda c: (start.wait(), attempt(c, *W).status_code)[1],
                                    [client.application.test_client() for _ in range(16)])
            assert sorted(statuses) == [401] + [429] * 15
        else:
            r = attempt(client, *step[:4])
            assert r.status_code in (step[4] if isinstance(step[4], tuple) else (step[4],)), step
            assert step[5:] in ((), (r.headers.get("Retry-After"),)), step


# One layer around the whole application adds them: a page, an answer of
# the SOAP endpoint's and a page's failure stand for the rest.
@pytest.mark.parametrize("method, path, body, status", [
    ("GET", "/", None, 200), ("POST", SOAP, TOO_BIG, 413), ("GET", "/programs", "fail", 500)])
def test_every_answer_carries_the_security_headers(signed_in, monkeypatch, method, path, body, status):
    if body == "fail":
        monkeypatch.setattr(queries, "search_programs", lambda *a, **k: 1 / 0)
    r = signed_in.open(path, method=method, data=None if body == "fail" else body)
    assert r.status_code == status
    assert status != 500 or "The service failed" in r.get_data(as_text=True)
    csp = r.headers["Content-Security-Policy"]
    assert "script-src" not in csp and "default-src 'none'" in csp and "frame-ancestors 'none'" in csp
    assert (r.headers["X-Content-Type-Options"], r.headers["X-Frame-Options"]) == ("nosniff", "DENY")


@pytest.mark.parametrize("config, request_, secure", [
    ({}, {}, False), ({}, {"base_url": "https://localhost"}, True),
    ({"PROXY_HOPS": 1}, {"headers": {"X-Forwarded-Proto": "https"}}, True),
    ({"TALLOWIN_PROXY_HOPS": "1"}, {"headers": {"X-Forwarded-Proto": "https"}}, True),  # from the environment
    ({}, {"headers": {"X-Forwarded-Proto": "https"}}, False)])    # no proxy to believe
def test_session_cookie_and_its_key(db_url, monkeypatch, config, request_, secure):
    for name, value in config.items():
        if name.startswith("TALLOWIN_"):
            monkeypatch.setenv(name, value)
    apps = [create_app(dict(config, DATABASE_URL=db_url)) for _ in range(2)]
    assert apps[0].secret_key == apps[1].secret_key and len(apps[0].secret_key) >= 64   # one for every worker
    auth.set_admin(apps[0].extensions["tallowin"].engine, "admin", "s3cret")
    c = apps[0].test_client()
    form = c.get("/sign-in", **request_)
    cookie = c.post("/sign-in", data={"csrf_token": token(form), "name": "admin", "password": "s3cret"},
                    **request_).headers["Set-Cookie"]
    assert "HttpOnly" in cookie and "SameSite=Lax" in cookie and ("Secure" in cookie) == secure
    for app in apps:
        app.extensions["tallowin"].engine.dispose()


def test_machine_list_pages_sort_filter_csv_and_labels(signed_in, engine):
    for i in range(130):
        ingest.ingest(engine, ingest.Record("u%d" % (i % 3), "00-0C-29-00-00-%02X" % i, "A$#$" * (1 + i % 2),
                                            "NetBIOS Name: PC%03d$#$" % i, "P: 1$#$"), "127.0.0.1")
    page = signed_in.get("/machines").get_data(as_text=True)
    assert "130 PCs, 1–100 shown" in page and "Page 1 of 2" in page
    assert "PC129" in signed_in.get("/machines?page=2").get_data(as_text=True)
    csv_names = lambda query: [r["computer_name"] for r in csv.DictReader(io.StringIO(  # noqa: E731
        signed_in.get("/machines.csv" + query).get_data(as_text=True)))]
    assert csv_names("") == ["PC%03d" % i for i in range(130)]    # every PC, not a page
    assert csv_names("?q=pc01&sort=name&dir=desc") == ["PC%03d" % i for i in range(19, 9, -1)]
    admin = basic("admin", "s3cret")
    for sort in ("user", "processor"):   # ties broken alike on every page and in the CSV
        pages = [m["computer_name"] for offset in range(0, 130, 10) for m in signed_in.get(
            "/api/machines?sort=%s&offset=%d&limit=10" % (sort, offset), headers=admin).json["machines"]]
        assert pages == csv_names("?sort=" + sort)
    for path in ("/", "/machines", "/programs", "/program?name=A", "/programs/machines?q=A"):
        page = signed_in.get(path).get_data(as_text=True)
        assert page.count("<table") == page.count("<caption") and "<th>" not in page, path
        labels = re.findall(r'<nav class="pager" aria-label="([^"]+)"', page)
        assert len(labels) == len(set(labels)), path


NET = ("NetBIOS Name: WS-ADA$#$DNS Host Name: ws-ada$#$Fully Qualified Domain Name: ws-ada.corp.example$#$"
       "IP Address: 10.1.2.3$#$Interface: Ethernet$#$  IP Address: 10.1.2.3$#$")
ADA, BOB = "/machines/00-1A-2B-3C-4D-5E", "/machines/00-0C-29-00-00-01"


def two_pcs(client):
    post(client, envelope(address="00-1A-2B-3C-4D-5E", user="ada", network=NET, programs=("Java 8 Update 391", "Zip")))
    post(client, envelope(address="00-1A-2B-3C-4D-5E", user="ada", network=NET,
                          programs=("Java 8 Update 401", "Extra", "NuGet 119", "NuGet 12")))
    post(client, envelope(address="00-0C-29-00-00-01", name="PC-OLD", user="bob", programs=("Java 8 Update 391",)))


# What a page says (every pattern found, in order where one pattern says
# so), or where it leads; WS-ADA is silent for 41 days. Mistakes are
# explained on a page that leads on.
@pytest.mark.parametrize("path, status, says", [
    ("/search?q=00:1a:2b", 302, ADA + "$"), ("/search?q=ws-ada.corp", 302, ADA + "$"), ("/search?q=BOB", 302, BOB + "$"),
    ("/search?q=java", 200, ('Java 8 Update 401</a> <span class="muted">1 PC<', r"/programs/machines\?q=java")),
    ("/search?q=zzz", 200, "00:1A:2B"), ("/search?q=00-99-99", 200, 'PCs <span class="muted">0(?!.*00:1A:2B)'),
    ("/programs?q=java", 200, r'href="/programs/machines\?q=java"'),
    ("/programs/machines?q=java&sort=program&dir=desc", 200, '">Java 8 Update 401<.*">Java 8 Update 391<'),
    ("/programs/machines.csv?q=java", 200, "PC-OLD,.*Java 8 Update 391.*WS-ADA,.*Java 8 Update 401"),
    ("/", 200, r"<b>2</b><span>PCs</span><.*<b>1</b><span>reported in the last 24 hours<.*<b>1</b><span>reported "
               r"in the last 7 days<.*<b>1</b><span>silent for more than 30 days<"),
    ("/machines?sort=silent", 200, ('WS-ADA</a> <span class="badge silent".*>41 days ago</time>.*'
                                    '<td data-label="Days silent" class="n">41</td>.*PC-OLD</a></td>')),
    ("/machines?q=a&sort=user&dir=desc", 200, ADA + r"\?back=q%3Da%26sort%3Duser%26dir%3Ddesc"),
    (ADA + "?back=q%3Da%26sort%3Duser%26dir%3Ddesc&pq=nu", 200, (
        '<a href="/machines\\?q=a&amp;sort=user&amp;dir=desc">PCs</a>', "silent 41 days", "10.1.2.3",
        "ws-ada.corp.example", "2 of 4 match", '"programs".*>NuGet 12<.*>NuGet 119<', "First record: 2 programs.",
        'tag add">added</span> <span class="name">Extra<.*tag del">removed</span> <span class="name">Zip<')),
    ("/machines?silent=abc", 400, "is not a number of days"), ("/changes?from=12/01", 400, "is not a date"),
    ("/nothing", 404, "Not found"), ("/machines/ws-ad", 404, 'href="%s"' % ADA),   # a name, not a key
    ("/machines.csv", 405, "Follow a link instead"), ("/programs?page=9", 302, r"/programs\?page=1"),
    ("/program?name=Nope", 200, "No PC has this program now"), ("/sign-out", 413, "Too much sent"),
    (ADA + "/records/1/programs.txt", 200, r"^Java 8 Update 391\$#\$Zip\$#\$$"),   # a record's text as sent
    (ADA + "/records/1/other.txt", 404, "Not found"), (BOB + "/records/1/programs.txt", 404, "Not found"),
])
def test_what_the_pages_say(signed_in, engine, path, status, says):
    two_pcs(signed_in)
    with db.writing(engine) as conn, conn.begin():
        conn.execute(schema.machines.update().where(schema.machines.c.computer_name == "WS-ADA")
                     .values(last_seen=db.utcnow() - datetime.timedelta(days=41, hours=1)))
    r = signed_in.open(path, method="POST" if status in (405, 413) else "GET",
                       data=TOO_BIG if status == 413 else {"csrf_token": token(signed_in.get("/"))})
    text = r.headers.get("Location") or r.get_data(as_text=True)
    assert r.status_code == status
    for pattern in (says,) if isinstance(says, str) else says:
        assert re.search(pattern, text, re.S), pattern
    if status >= 400:
        assert 'class="top"' in text and 'href="/machines"' in text and "Download CSV" not in text


def test_changes_pair_updates_group_by_record_and_filter(signed_in):
    two_pcs(signed_in)
    post(signed_in, envelope(address="00-0C-29-00-00-01", name="PC-OLD", user="bob", programs=("Zip",)))
    items = lambda query: re.findall(  # noqa: E731
        r'<span class="tag (\w+)">\w+</span> <a class="name"[^>]*>([^<]+)</a>( <span class="version">([^<]+))?',
        signed_in.get("/changes" + query).get_data(as_text=True))
    assert items("") == [("del", "Java 8 Update 391", "", ""), ("add", "Zip", "", ""), ("add", "Extra", "", ""),
                         ("upd", "Java", ' <span class="version">8 Update 391', "8 Update 391"),
                         ("add", "NuGet 12", "", ""), ("add", "NuGet 119", "", ""), ("del", "Zip", "", "")]
    assert [i[1] for i in items("?pc=ada&kind=removed")] == ["Java", "Zip"]
    assert [i[1] for i in items("?program=nuget&kind=added")] == ["NuGet 12", "NuGet 119"]
    assert items("?to=2000-01-01") == [] and len(items("?from=2000-01-01")) == 7

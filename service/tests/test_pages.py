"""The pages through Flask's test client: sign-in and its protections, the
security headers, escaping and labels, the lists, search, changes and the
downloads. Who may see each page: test_api; the pages in Chromium:
tests/browser."""

import csv
import datetime
import io
import re

import pytest

from conftest import basic, envelope, post, sign_in, token
from tallowin_service import accounts, auth, db, ingest, queries, schema
from tallowin_service.app import create_app

MARKUP = ("<script>alert(1)</script>", "<img src=x onerror=alert(1)>")
SOAP = "/Zelt/pcInventoryD.nsf/savesoftware"
TOO_BIG = b"x" * (1024 * 1024 + 1)


@pytest.fixture
def signed_in(client, engine):
    auth.set_admin(engine, "admin", "s3cret")
    assert sign_in(client).status_code == 302
    return client


def test_sign_in_keeps_where_it_was_going_but_only_on_this_site(client, engine):
    auth.set_admin(engine, "admin", "s3cret")
    assert sign_in(client, next_path="/programs?q=a").headers["Location"] == "/programs?q=a"
    for target in ("//evil.example/", "https://evil.example/", "/\\evil.example", "javascript:x"):
        client.post("/sign-out", data={"csrf_token": token(client.get("/"))})
        assert sign_in(client, next_path=target).headers["Location"] == "/"


def test_forms_without_the_session_token_change_nothing(client, engine):
    auth.set_admin(engine, "admin", "s3cret")
    csrf = token(client.get("/sign-in"))
    for form in ({}, {"csrf_token": "forged"}, {"csrf_token": csrf, "name": "x\0"}):
        assert client.post("/sign-in", data=dict({"name": "admin", "password": "s3cret"}, **form)).status_code == 400
        assert client.get("/").status_code == 302  # still signed out
    page = sign_in(client, password="wrong").get_data(as_text=True)   # the focus goes to the password
    assert re.search(r'id="password"[^>]* autofocus', page) and not re.search(r'id="name"[^>]* autofocus', page)
    assert sign_in(client).status_code == 302
    assert client.post("/sign-out", data={"csrf_token": "forged"}).status_code == 400
    assert client.get("/").status_code == 200  # still signed in
    assert client.post("/sign-out", data={"csrf_token": token(client.get("/"))}).status_code == 302
    assert client.get("/").status_code == 302


# Steps of failed and good attempts: (via the API or the sign-in page, name,
# password, address, status, Retry-After) or ("tick", timedelta).
WRONG, RIGHT, WAIT = ("api", "admin", "wrong", "1"), ("api", "admin", "s3cret", "1"), datetime.timedelta
THROTTLE = {
    "waits double on the API and the pages": [(*WRONG, 401)] * auth.PAIR_FREE + [
        ("page", "admin", "s3cret", "1", 429, "2"), ("tick", WAIT(seconds=3)), (*WRONG, 401),
        (*RIGHT, 429, "4"), ("tick", WAIT(minutes=5)), ("page", "admin", "s3cret", "1", 302)],
    "a stranger cannot lock the owner out": [("api", "admin", "wrong", "66", (401, 429))] * 10 + [
        ("api", "ADMIN", "wrong", "66", 429), ("api", "admin", "s3cret", "2", 200),
        ("page", "admin", "s3cret", "2", 302)],
    "the name's budget binds addresses that failed": [("api", "admin", "wrong", str(i), 401) for i in range(3)] + [
        ("api", "admin", "wrong", "0", 429), ("api", "admin", "s3cret", "9", 200)],
}


def attempt(client, via, name, password, address):
    address = "10.0.0." + address
    if via == "page":
        return sign_in(client, name, password, address=address)
    return client.get("/api/summary", headers=basic(name, password), environ_base={"REMOTE_ADDR": address})


@pytest.mark.parametrize("case", list(THROTTLE) + ["one heard per wait in parallel", "unknown names"])
def test_failed_attempts_are_slowed_down(client, engine, monkeypatch, case):
    clock = [datetime.datetime(2026, 1, 1, 12)]
    monkeypatch.setattr(accounts, "utcnow", lambda: clock[0])
    if "budget" in case:
        monkeypatch.setattr(auth, "NAME_FREE", 3)
    auth.set_admin(engine, "admin", "s3cret")
    for step in THROTTLE.get(case, []):
        if step[0] == "tick":
            clock[0] += step[1]
            continue
        r = attempt(client, *step[:4])
        assert r.status_code in (step[4] if isinstance(step[4], tuple) else (step[4],)), step
        assert step[5:] in ((), (r.headers.get("Retry-After"),)), step
    if case == "unknown names":     # cost a password check like a known one
        checks, real = [], auth.check_password_hash
        monkeypatch.setattr(auth, "check_password_hash", lambda *a: checks.append(1) or real(*a))
        for via, name in (("api", "nobody"), ("page", "nobody"), ("api", "bad\0name")):
            assert attempt(client, via, name, "s3cret", "1").status_code == 401
        assert len(checks) == 3
    elif case.startswith("one heard"):
        import threading
        for _ in range(auth.PAIR_FREE):
            attempt(client, *WRONG)
        clock[0] += WAIT(seconds=3)
        start, statuses = threading.Barrier(16), []

        def one(c):
            start.wait()
            statuses.append(attempt(c, *WRONG).status_code)
        threads = [threading.Thread(target=one, args=(client.application.test_client(),)) for _ in range(16)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        assert sorted(statuses) == [401] + [429] * 15


@pytest.mark.parametrize("ending", ["new password", "sign-out"])
def test_a_session_ends_on_the_server(signed_in, engine, ending):
    assert signed_in.get("/").status_code == 200
    cookie = next(c.value for c in signed_in.cookie_jar if c.name == "tallowin_session")
    if ending == "sign-out":
        assert signed_in.post("/sign-out", data={"csrf_token": token(signed_in.get("/"))}).status_code == 302
        signed_in.set_cookie("localhost", "tallowin_session", cookie)   # the cookie replayed
    else:
        auth.set_admin(engine, "admin", "n3w")
    assert signed_in.get("/").status_code == 302


@pytest.mark.parametrize("method, path, body, status", [
    ("GET", "/", None, 200), ("GET", "/machines.csv", None, 200), ("GET", "/sign-in", None, 302),
    ("GET", "/static/style.css", None, 200), ("GET", "/nothing", None, 404), ("GET", "/api/machines", None, 401),
    ("GET", SOAP, None, 405), ("GET", SOAP + "?WSDL", None, 200), ("POST", SOAP, b"<x/>", 500),
    ("POST", SOAP, TOO_BIG, 413), ("GET", "/programs", "fail", 500),
])
def test_every_answer_carries_the_security_headers(signed_in, monkeypatch, method, path, body, status):
    if body == "fail":
        monkeypatch.setattr(queries, "search_programs", lambda *a, **k: 1 / 0)
        body = None
    r = signed_in.open(path, method=method, data=body)
    assert r.status_code == status
    assert status != 500 or path == SOAP or "The service failed" in r.get_data(as_text=True)
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


def test_record_texts_are_text_and_downloads_of_this_pc_only(signed_in):
    post(signed_in, envelope(programs=("Plain",) + MARKUP, name="<b>PC</b>", user="<i>u</i>", processor="P: 1$#$"))
    post(signed_in, envelope(programs=("Plain", MARKUP[1]), name="<b>PC</b>", user="<i>u</i>"))
    post(signed_in, envelope(address="00-0C-29-00-00-02", name="PC2"))
    key = "00-0C-29-3A-5B-7F"
    for path in ("/", "/machines", "/machines/" + key, "/programs?q=alert", "/program?name=" + MARKUP[1]):
        page = signed_in.get(path).get_data(as_text=True)
        assert "<script>alert" not in page and "<img src=x" not in page and "<b>PC" not in page
    page = signed_in.get("/machines/" + key).get_data(as_text=True)
    for name in MARKUP:
        assert name.replace("<", "&lt;").replace(">", "&gt;") in page
    r = signed_in.get("/machines/%s/records/1/processor.txt" % key)
    assert r.get_data(as_text=True) == "P: 1$#$" and r.headers["Content-Disposition"].startswith("attachment")
    for path in ("/machines/%s/records/1/other.txt" % key, "/machines/00-0C-29-00-00-02/records/1/programs.txt"):
        assert signed_in.get(path).status_code == 404


def test_machine_list_pages_sort_filter_csv_and_labels(signed_in, engine):
    for i in range(130):
        ingest.ingest(engine, ingest.Record("u%d" % (i % 3), "00-0C-29-00-00-%02X" % i, "A$#$" * (1 + i % 2),
                                            "NetBIOS Name: PC%03d$#$" % i, "P: 1$#$"), "127.0.0.1")
    page = signed_in.get("/machines").get_data(as_text=True)
    assert "130 PCs, 1–100 shown" in page and "Page 1 of 2" in page
    page2 = signed_in.get("/machines?page=2").get_data(as_text=True)
    assert "PC129" in page2 and "PC099" not in page2
    desc = signed_in.get("/machines?sort=name&dir=desc").get_data(as_text=True)
    assert desc.index("PC129") < desc.index("PC128")
    csv_names = lambda query: [r["computer_name"] for r in csv.DictReader(io.StringIO(  # noqa: E731
        signed_in.get("/machines.csv" + query).get_data(as_text=True)))]
    assert csv_names("") == ["PC%03d" % i for i in range(130)]    # every PC, not a page
    assert csv_names("?q=pc01&sort=name&dir=desc") == ["PC%03d" % i for i in range(19, 9, -1)]
    for path in ("/", "/machines", "/programs", "/program?name=A", "/programs/machines?q=A"):
        page = signed_in.get(path).get_data(as_text=True)
        assert page.count("<table") == page.count("<caption") and "<th>" not in page, path
        labels = re.findall(r'<nav class="pager" aria-label="([^"]+)"', page)
        assert len(labels) == len(set(labels)), path
        assert '<a class="skip" href="#content">' in page


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
    ("/search?q=10.1.2.3", 302, ADA + "$"), ("/search?q=00:1a:2b", 302, ADA + "$"),
    ("/search?q=001A2B3C4D5E", 302, ADA + "$"), ("/search?q=ws-ada.corp", 302, ADA + "$"),
    ("/search?q=10.1.2", 302, ADA + "$"), ("/search?q=BOB", 302, BOB + "$"),
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
        "ws-ada.corp.example", "2 of 4 match", '"programs".*>NuGet 12<.*>NuGet 119<', "First record: 2 programs.")),
    ("/machines?silent=abc", 400, "is not a number of days"), ("/changes?from=12/01", 400, "is not a date"),
    ("/nothing", 404, "Not found"), ("/machines/ws-ad", 404, 'href="%s"' % ADA),   # a name, not a key
    ("/machines.csv", 405, "Follow a link instead"), ("/programs?page=9", 302, r"/programs\?page=1"),
    ("/program?name=Nope", 200, "No PC has this program now"), ("/sign-out", 413, "Too much sent"),
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

"""The SOAP endpoint in process: the description, a record stored as the
parser gives it, and every bad request answered with a fault that says why,
with nothing stored and the service still answering; the enrollment secrets
(hashes kept, several valid at once, wrong ones slowed down per address)."""

import io
import re
import threading
import types

import pytest
import sqlalchemy as sa

from conftest import SERVICE_PATH, SOAP_HEADERS, count, envelope, post
from tallowin_service import accounts, db, enrollment, ingest, queries
from tallowin_service.app import create_app
from tallowin_service.schema import enrollment_secrets, records

GOOD = envelope().decode()


def fault(response):
    found = re.findall(r"<faultcode>(.*?)</faultcode><faultstring>(.*?)</faultstring>",
                       response.get_data(as_text=True), re.S)
    return found[0] if found else None


def test_the_description_names_the_address_the_client_used(client):
    # What else it says is read by the control itself in the Windows tests' uploads to this service.
    for host in ("127.0.0.1:8080", "[::1]:81", 'x"><evil'):
        text = client.get(SERVICE_PATH + "?WSDL", headers={"Host": host}).get_data(as_text=True)
        assert ('location="http://%s%s"' % (host, SERVICE_PATH) in text) == ("evil" not in host)
        assert "evil" not in text   # a Host header that is no host name is not echoed


def test_texts_are_stored_as_the_parser_gives_them(client, engine):
    body = envelope(user="<![CDATA[a<b>]]> &amp; \ufffd \U0001F600", programs=["x & y", "é"])
    body = body.replace(b"&lt;![CDATA[a&lt;b&gt;]]&gt; &amp;amp;", b"<![CDATA[a<b>]]> &amp;")
    # A header the service may ignore is no reason to refuse.
    body = body.replace(b"<s:Body>", b'<s:Header><t:Trace xmlns:t="urn:t" s:mustUnderstand="0"/></s:Header><s:Body>')
    r = post(client, body)
    assert r.status_code == 200 and b"OK" in r.data
    with engine.connect() as conn:
        row, = queries.all_records(conn)
    assert (row["user_name"], row["programs_text"]) == ("a<b> & \ufffd \U0001F600", "x & y$#$é$#$")


BAD = {
    "empty body": ("", "no body"),
    "not XML": ("this is not xml", "not well-formed"),
    "entity declaration": ('<?xml version="1.0"?><!DOCTYPE s [<!ENTITY x SYSTEM "file:///etc/passwd">]>'
                           + GOOD.split("?>", 1)[1].replace("alice", "&x;"), "document type"),
    "SOAP 1.2 envelope": (GOOD.replace("http://schemas.xmlsoap.org/soap/envelope/",
                                       "http://www.w3.org/2003/05/soap-envelope"), "SOAP 1.1 Envelope"),
    "empty Body": ('<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body/></s:Envelope>',
                   "one operation"),
    "two operations": (GOOD.replace("</s:Body>", "<setSaveSoftwareInformation xmlns='urn:tallowin:inventory'/>"
                                                 "</s:Body>"), "one operation"),
    "unknown operation": (GOOD.replace("setSaveSoftwareInformation", "deleteEverything"), "deleteEverything"),
    "other namespace": (GOOD.replace('xmlns="urn:tallowin:inventory"', 'xmlns="urn:other"'), "urn:other"),
    # The schema's checks (lxml): a parameter missing, nil.
    "missing parameter": (re.sub("<ProcessorText>.*</ProcessorText>", "", GOOD), "Missing child element"),
    "nil parameter": (GOOD.replace("<UserName>alice</UserName>", '<UserName xmlns:xsi="http://www.w3.org/2001/'
                                   'XMLSchema-instance" xsi:nil="true"/>'), "nillable"),
    "bytes not in the declared encoding": (GOOD.replace("alice", "J\xfcrgen").encode("latin-1"), "UTF-8"),
    "declaration and HTTP charset differ": (GOOD.replace("utf-8", "iso-8859-1").replace("alice", "J\xfcrgen")
                                            .encode("latin-1"), "could not be read"),
    "UTF-16": (GOOD.replace("utf-8", "utf-16").encode("utf-16"), "NUL"),
    # Costly to parse (libxml2 is quadratic in one element's attributes): refused before parsing.
    "many attributes": (GOOD.replace("<setSaveSoftwareInformation", "<setSaveSoftwareInformation "
                                     + " ".join('a%d="x"' % i for i in range(50000))), "attributes"),
    "many elements": (GOOD.replace("<s:Body>", "<s:Header>%s</s:Header><s:Body>" % ("<h/>" * 100)), "elements"),
    "deep nesting": (GOOD.replace("alice", "<a>" * 40 + "</a>" * 40), "deeper"),
    "long attribute value": (GOOD.replace("<s:Body>", '<s:Body a="%s">' % ("x" * 5000)), "above 1024 bytes"),
    "header that must be understood": (GOOD.replace("<s:Body>", '<s:Header><t:Trace xmlns:t="urn:t" '
                                                    's:mustUnderstand="1"/></s:Header><s:Body>'),
                                       "not understood", "MustUnderstand"),
}


@pytest.mark.parametrize("case", list(BAD))
def test_bad_requests_get_a_fault_and_store_nothing(client, engine, case):
    body, reason, *code = BAD[case]
    r = post(client, body if isinstance(body, bytes) else body.encode("utf-8"))
    assert r.status_code == 500
    got, text = fault(r)
    assert got.startswith("soap11env:" + (code[0] if code else "Client")), got
    assert reason in text
    assert count(engine, records) == 0
    assert post(client, GOOD.encode()).status_code == 200   # and it goes on serving
    assert count(engine, records) == 1


def test_above_the_records_in_progress_the_service_answers_503(db_url, monkeypatch):
    """One record in progress of one allowed: the next is refused at once,
    asked to come back, and taken once the first is done."""
    app = create_app({"DATABASE_URL": db_url, "MAX_RECORDS_IN_PROGRESS": 1, "RETRY_AFTER": 30})
    entered, release, real = threading.Event(), threading.Event(), ingest.ingest
    monkeypatch.setattr(ingest, "ingest", lambda *a, **k: entered.set() or release.wait(60) and real(*a, **k))
    first = threading.Thread(target=post, args=(app.test_client(), GOOD.encode()))
    first.start()
    try:
        assert entered.wait(60)
        r = post(app.test_client(), GOOD.encode())
        assert (r.status_code, r.headers["Retry-After"], "busy" in fault(r)[1]) == (503, "30", True)
        assert app.test_client().get("/health").status_code == 200   # the rest still answers
    finally:
        release.set()
        first.join(60)
    assert post(app.test_client(), GOOD.encode()).status_code == 200
    assert count(app.extensions["tallowin"].engine, records) == 2
    app.extensions["tallowin"].engine.dispose()


@pytest.mark.parametrize("path, declared, extra, status", [
    (SERVICE_PATH, 1, None, "413"), ("/api/machines", 1, None, "413"),   # said to be too big: refused unread
    (SERVICE_PATH, None, 1000, "413"),   # chunked: read no further than the limit
    (SERVICE_PATH, 0, 0, "200")])        # just at the limit: taken
def test_the_body_limit(app, engine, path, declared, extra, status):
    limit = app.config["MAX_BODY_BYTES"]
    body = GOOD.encode()   # made limit + extra bytes long
    body = body.replace(b"alice", b"a" * (limit - len(body) + 5 + (extra or 0)), 1)
    stream = io.BytesIO(body)
    environ = {"REQUEST_METHOD": "POST", "PATH_INFO": path, "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "80",
               "wsgi.url_scheme": "http", "wsgi.errors": io.StringIO(), "wsgi.input": stream,
               "CONTENT_TYPE": SOAP_HEADERS["Content-Type"]}
    if declared is not None:
        environ["CONTENT_LENGTH"] = str(limit + declared)
    got = {}
    b"".join(app.wsgi_app(environ, lambda status, headers, exc=None: got.update(status=status)))
    assert got["status"].startswith(status)
    assert stream.tell() <= (0 if extra is None else limit + 1)   # said to be too big: not read at all
    assert count(engine, records) == (status == "200")


WRONG = "Bearer wrong-secret-0123456789"


def send(client, authorization=None, address="192.0.2.1"):
    headers = dict(SOAP_HEADERS, **({"Authorization": authorization} if authorization else {}))
    return client.post(SERVICE_PATH, data=envelope(), headers=headers, environ_base={"REMOTE_ADDR": address})


def secret_names(engine):
    with engine.connect() as conn:
        return [r["secret"] for r in reversed(queries.list_records(conn)["records"])]


def test_secrets_rotate_refuse_with_faults_and_records_keep_the_name(client, engine):
    assert send(client).status_code == 200  # none yet: open, as before
    old = enrollment.add_secret(engine, "2026-a")
    enrollment.add_secret(engine, "2026-b", "chosen-secret-of-enough-length")
    for bad in (("2026-a", None), ("x", "too-short"), ("x", "a blank is not allowed here")):
        with pytest.raises(enrollment.SecretError):
            enrollment.add_secret(engine, *bad)
    with engine.connect() as conn:
        hashes = " ".join(conn.execute(sa.select(enrollment_secrets.c.secret_hash)).scalars())
    assert old not in hashes and "chosen-secret" not in hashes
    assert [name for name, _ in enrollment.list_secrets(engine)] == ["2026-a", "2026-b"]
    assert [send(client, "Bearer " + s).status_code for s in (old, "chosen-secret-of-enough-length")] == [200, 200]
    assert enrollment.remove_secret(engine, "2026-a") and not enrollment.remove_secret(engine, "2026-a")
    for authorization, status, reason in ((None, 401, "the service wants an enrollment secret"),
                                          ("Basic YTpi", 401, "the service wants an enrollment secret"),
                                          ("Bearer " + old, 403, "the enrollment secret is not accepted")):
        r = send(client, authorization)
        assert (r.status_code, "<faultstring>%s</faultstring>" % reason in r.get_data(as_text=True)) == (status, True)
    assert client.get(SERVICE_PATH + "?WSDL").status_code == 200  # the description needs no secret
    assert secret_names(engine) == [None, "2026-a", "2026-b"]


def test_wrong_secrets_are_slowed_down_per_address_but_a_valid_one_gets_through(client, engine, monkeypatch):
    now = accounts.utcnow()
    monkeypatch.setattr(accounts, "utcnow", lambda: now)  # the waits do not run out during the test
    good = "Bearer " + enrollment.add_secret(engine, "s")
    assert send(client, good).status_code == 200
    statuses = [send(client, WRONG).status_code for _ in range(enrollment.FREE_FAILURES + 1)]
    assert statuses == [403] * enrollment.FREE_FAILURES + [429]
    assert int(send(client, WRONG).headers["Retry-After"]) > 0
    assert send(client, good).status_code == 200
    assert send(client, WRONG, address="192.0.2.2").status_code == 403
    assert secret_names(engine) == ["s", "s"]


def test_a_secret_removed_elsewhere_is_refused_once_the_secrets_are_read_again(client, engine, db_url, monkeypatch):
    old, new = ("Bearer " + enrollment.add_secret(engine, name) for name in ("old", "new"))
    assert send(client, old).status_code == 200
    elsewhere = db.create_engine(db_url)  # as the command line does it, beside the running service
    enrollment.remove_secret(elsewhere, "old")
    elsewhere.dispose()
    later = enrollment.time.monotonic() + enrollment.STORED_SECONDS
    monkeypatch.setattr(enrollment, "time", types.SimpleNamespace(monotonic=lambda: later))
    assert [send(client, s).status_code for s in (old, new)] == [403, 200]

"""Fixtures: every test that takes `db_url` runs on SQLite and, when
TALLOWIN_TEST_PG_URL names a PostgreSQL database (scripts/test-service starts
one), on PostgreSQL too, with the tables emptied first."""

import base64
import contextlib
import http.client
import os
import re
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

import pytest
import sqlalchemy as sa

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from tallowin_service import auth, db, ingest, profile, schema, steady, stored_texts  # noqa: E402
from tallowin_service.app import create_app  # noqa: E402

PG_URL = os.environ.get("TALLOWIN_TEST_PG_URL")
SERVICE_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"


_pg_fresh = []


def _empty_postgresql(url):
    """The first time a new schema; then only the rows go (much faster)."""
    engine = sa.create_engine(url)
    with engine.begin() as conn:
        if not _pg_fresh:
            conn.exec_driver_sql("DROP SCHEMA public CASCADE")
            conn.exec_driver_sql("CREATE SCHEMA public")
            _pg_fresh.append(True)
        else:
            names = ", ".join(t.name for t in schema.metadata.sorted_tables if t.name != "schema_version")
            conn.exec_driver_sql("TRUNCATE %s RESTART IDENTITY CASCADE" % names)
    engine.dispose()


@pytest.fixture(params=["sqlite", "postgresql"])
def db_url(request, tmp_path):
    if request.param == "sqlite":
        return "sqlite:///" + str(tmp_path / "inventory.sqlite")
    if not PG_URL:
        pytest.skip("TALLOWIN_TEST_PG_URL not set")
    _empty_postgresql(PG_URL)
    return PG_URL


@pytest.fixture
def app(db_url):
    application = create_app({"DATABASE_URL": db_url, "MAX_BODY_BYTES": 1024 * 1024})
    yield application
    application.extensions["tallowin"].engine.dispose()


@pytest.fixture
def engine(app):
    return app.extensions["tallowin"].engine


@pytest.fixture
def client(app):
    return app.test_client()


@pytest.fixture
def admin(engine):
    """Basic-auth headers of an administrator."""
    auth.set_admin(engine, "admin", "s3cret")
    return basic("admin", "s3cret")


def basic(name, password):
    token = base64.b64encode(("%s:%s" % (name, password)).encode("utf-8")).decode("ascii")
    return {"Authorization": "Basic " + token}


def token(response):
    return re.search(r'name="csrf_token" value="([^"]+)"', response.get_data(as_text=True)).group(1)


def sign_in(client, name="admin", password="s3cret", next_path="/", address="127.0.0.1"):
    """The sign-in form filled in and sent, as a browser would."""
    return client.post("/sign-in", data={"csrf_token": token(client.get("/sign-in")), "name": name,
                                         "password": password, "next": next_path},
                       environ_base={"REMOTE_ADDR": address})


def rec(programs=("A", "B"), user="alice", address="00-0C-29-3A-5B-7F", name="PC1",
        processor="Processor Architecture: Intel$#$", network=None):
    """A record as the control makes it; programs given as names are
    joined, a text is taken as it is."""
    if not isinstance(programs, str):
        programs = "".join(p + "$#$" for p in programs)
    if network is None:
        network = "NetBIOS Name: %s$#$User Name: %s$#$" % (name, user)
    return ingest.Record(user, address, programs, network, processor)


def envelope(operation="setSaveSoftwareInformation", fields=None, **record):
    """A call as the control sends it: the operation with its fields, (name,
    text) pairs, by default those of rec(**record)."""
    fields = "".join("<%s>%s</%s>" % (tag, escape(text), tag)
                     for tag, text in fields or zip(ingest.FIELDS, rec(**record)))
    return ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">'
            '<s:Body><%s xmlns="urn:tallowin:inventory">%s</%s></s:Body></s:Envelope>'
            % (operation, fields, operation)).encode("utf-8")


SOAP_HEADERS = {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"setSaveSoftwareInformation"'}


def layout_of_version_5(engine):
    """Takes a database back to version 5, which kept each record's texts and
    origin in its row, and no profiles."""
    with db.writing(engine) as conn, conn.begin():
        rows = conn.execute(sa.text("SELECT r.id, t.body AS origin_text FROM records r"
                                    " JOIN shared_texts t ON t.id = r.origin_id")).fetchall()
        if rows:
            conn.execute(sa.text("UPDATE records SET sender = :sender, user_name = :user_name,"
                                 " adapter_address = :adapter_address, secret_name = :secret_name WHERE id = :id"),
                         [dict(stored_texts.origin(r)._asdict(), id=r.id) for r in rows])
        conn.exec_driver_sql("DROP INDEX IF EXISTS records_texts")
        conn.exec_driver_sql("DROP INDEX IF EXISTS records_origin")
        conn.exec_driver_sql("ALTER TABLE records DROP COLUMN origin_id")
        for kind, optional in schema.TEXT_KINDS:
            if not optional:
                conn.exec_driver_sql("ALTER TABLE records ADD COLUMN %s_text TEXT NOT NULL DEFAULT ''" % kind)
                conn.exec_driver_sql("UPDATE records SET %s_text = (SELECT body FROM shared_texts"
                                     " WHERE id = records.%s_id)" % (kind, kind))
            conn.exec_driver_sql("DROP INDEX IF EXISTS records_%s" % kind)
            conn.exec_driver_sql("ALTER TABLE records DROP COLUMN %s_id" % kind)
        # Its texts as received: the moving values back in.
        for r in conn.execute(sa.text("SELECT id, volatile_values, network_text, processor_text FROM records"
                                      " WHERE volatile_values IS NOT NULL")).fetchall():
            got = steady.restore(r.volatile_values, {"network": r.network_text, "processor": r.processor_text})
            conn.execute(sa.text("UPDATE records SET network_text = :network, processor_text = :processor"
                                 " WHERE id = :id"), dict(got, id=r.id))
        conn.exec_driver_sql("ALTER TABLE records DROP COLUMN volatile_values")
        conn.exec_driver_sql("DROP TABLE shared_texts")
        # Nor had it enrollment secrets or searchable network names.
        conn.exec_driver_sql("ALTER TABLE records DROP COLUMN secret_name")
        conn.exec_driver_sql("DROP TABLE enrollment_secrets")
        conn.exec_driver_sql("DROP TABLE machine_network_names")
        conn.exec_driver_sql("DROP INDEX records_machine")  # then by (machine_id, id)
        conn.exec_driver_sql("CREATE INDEX records_machine ON records (machine_id, id)")
        for index in schema.PROFILE_INDEXES:
            index.drop(conn)
        for column in profile.FACT_COLUMNS:
            conn.exec_driver_sql("ALTER TABLE machines DROP COLUMN %s" % column)
        conn.execute(schema.schema_version.update().values(version=5))


def post(client, body):
    return client.post(SERVICE_PATH, data=body, headers=SOAP_HEADERS)


def count(engine, table):
    with engine.connect() as conn:
        return conn.execute(sa.select(sa.func.count()).select_from(table)).scalar()


SERVICE_COMMAND = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tallowin-service")


@contextlib.contextmanager
def running_service(db_url, workers=2, threads=8, max_seconds=300, extra=()):
    """`tallowin-service serve` in gunicorn on 127.0.0.1 at a port of its
    choosing (the process's .port) for the block; stopped (SIGTERM, then
    SIGKILL) when the block ends, and by itself after max_seconds whatever
    happens to the test. Its log is printed when the block fails."""
    log = tempfile.TemporaryFile(mode="w+")
    process = subprocess.Popen(
        ["/usr/bin/python3", SERVICE_COMMAND, "serve", "--db", db_url, "--listen", "127.0.0.1:0",
         "--workers", str(workers), "--threads", str(threads), "--max-seconds", str(max_seconds),
         "--quiet", *extra],
        stdout=subprocess.PIPE, stderr=log, text=True)
    try:
        line = process.stdout.readline()
        assert line.startswith("READY "), "the service did not start: %r" % line
        process.port = int(line.split()[1])
        yield process
    except Exception:
        log.seek(0)
        print("service log:\n" + log.read()[-5000:])
        raise
    finally:
        process.terminate()
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()


def http_post(port, body, timeout=120):
    """POSTs a SOAP request; (status, body) or (None, error) when the
    connection broke."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request("POST", SERVICE_PATH, body=body, headers=SOAP_HEADERS)
        response = connection.getresponse()
        return response.status, response.read()
    except (OSError, http.client.HTTPException) as error:
        return None, str(error)
    finally:
        connection.close()

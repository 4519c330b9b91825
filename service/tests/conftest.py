"""Fixtures: every test that takes `db_url` runs on SQLite and, when
TALLOWIN_TEST_PG_URL names a PostgreSQL database (scripts/test-service starts
one), on PostgreSQL too, with the tables emptied first."""

import base64
import os
import sys
from xml.sax.saxutils import escape

import pytest
import sqlalchemy as sa

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from tallowin_service import auth, store  # noqa: E402
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
            names = ", ".join(t.name for t in store.metadata.sorted_tables if t.name != "schema_version")
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


def envelope(user="alice", address="00-0C-29-3A-5B-7F", programs=("A", "B"), network=None,
             processor="Processor Architecture: Intel$#$", name="PC1"):
    """A request as the control writes it; programs given as names are
    joined, a text is taken as it is."""
    if not isinstance(programs, str):
        programs = "".join(p + "$#$" for p in programs)
    if network is None:
        network = "NetBIOS Name: %s$#$User Name: %s$#$" % (name, user)
    parts = "".join("<%s>%s</%s>" % (tag, escape(text), tag) for tag, text in (
        ("UserName", user), ("AdapterAddress", address), ("ProgramsText", programs),
        ("NetworkText", network), ("ProcessorText", processor)))
    return ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s='
            '"http://schemas.xmlsoap.org/soap/envelope/"><s:Body><setSaveSoftwareInformation'
            ' xmlns="urn:tallowin:inventory">%s</setSaveSoftwareInformation></s:Body></s:Envelope>'
            % parts).encode("utf-8")


SOAP_HEADERS = {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"setSaveSoftwareInformation"'}


def post(client, body):
    return client.post(SERVICE_PATH, data=body, headers=SOAP_HEADERS)


def count(engine, table):
    with engine.connect() as conn:
        return conn.execute(sa.select(sa.func.count()).select_from(table)).scalar()

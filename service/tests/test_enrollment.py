"""Enrollment secrets: hashes kept, several valid at once, a record without a
valid one refused with a fault and not stored, wrong ones slowed down per
address."""

import pytest
import sqlalchemy as sa

from conftest import SERVICE_PATH, SOAP_HEADERS, envelope
from tallowin_service import accounts, enrollment, queries
from tallowin_service.schema import enrollment_secrets

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

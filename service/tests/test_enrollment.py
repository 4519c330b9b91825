"""Enrollment secrets: hashes kept, several valid at once, a record without a
valid one refused with a fault and not stored, wrong ones slowed down per
address."""

import pytest
import sqlalchemy as sa

from conftest import SERVICE_PATH, SOAP_HEADERS, count, envelope
from tallowin_service import accounts, enrollment
from tallowin_service.schema import enrollment_secrets, records

WRONG = "wrong-secret-0123456789"


def send(client, authorization=None, address="192.0.2.1"):
    headers = dict(SOAP_HEADERS, **({"Authorization": authorization} if authorization else {}))
    return client.post(SERVICE_PATH, data=envelope(), headers=headers, environ_base={"REMOTE_ADDR": address})


def test_secrets_rotate_and_each_record_keeps_its_secrets_name(client, engine):
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
    assert send(client, "Bearer " + old).status_code == 200
    assert send(client, "Bearer chosen-secret-of-enough-length").status_code == 200
    assert enrollment.remove_secret(engine, "2026-a") and not enrollment.remove_secret(engine, "2026-a")
    assert send(client, "Bearer " + old).status_code == 403
    with engine.connect() as conn:
        names = conn.execute(sa.select(records.c.secret_name).order_by(records.c.id)).scalars().all()
    assert names == [None, "2026-a", "2026-b"]


@pytest.mark.parametrize("authorization,status,reason", [
    (None, "401 Unauthorized", "the service wants an enrollment secret"),
    ("Basic YTpi", "401 Unauthorized", "the service wants an enrollment secret"),
    ("Bearer " + WRONG, "403 Forbidden", "the enrollment secret is not accepted"),
])
def test_a_record_without_a_valid_secret_gets_a_fault_and_is_not_stored(client, engine, authorization, status,
                                                                         reason):
    enrollment.add_secret(engine, "s")
    r = send(client, authorization)
    assert r.status == status
    assert "<faultstring>%s</faultstring>" % reason in r.get_data(as_text=True)
    assert count(engine, records) == 0
    assert client.get(SERVICE_PATH + "?WSDL").status_code == 200  # the description needs no secret


def test_wrong_secrets_are_slowed_down_per_address_but_a_valid_one_gets_through(client, engine, monkeypatch):
    now = accounts.utcnow()
    monkeypatch.setattr(accounts, "utcnow", lambda: now)  # the waits do not run out during the test
    good = enrollment.add_secret(engine, "s")
    assert send(client, "Bearer " + good).status_code == 200
    statuses = [send(client, "Bearer " + WRONG).status_code for _ in range(enrollment.FREE_FAILURES + 1)]
    assert statuses == [403] * enrollment.FREE_FAILURES + [429]
    assert int(send(client, "Bearer " + WRONG).headers["Retry-After"]) > 0
    assert send(client, "Bearer " + good).status_code == 200
    assert send(client, "Bearer " + WRONG, address="192.0.2.2").status_code == 403

"""The service as administrators run it: gunicorn with two workers, on
SQLite and PostgreSQL, under concurrent posts and with a worker killed."""

import os
import signal
import socket
import subprocess
import threading
import time

import pytest
import sqlalchemy as sa

from conftest import SERVICE_COMMAND, envelope, http_post, running_service
from tallowin_service import auth, cli, db, ingest, queries, stored_texts, texts
from tallowin_service.schema import changes, machine_programs, machines, programs, records


def run_cli(*args, stdin=""):
    return subprocess.run(["/usr/bin/python3", SERVICE_COMMAND, *args], input=stdin, capture_output=True,
                          text=True, timeout=120)


def consistent(engine):
    """Every stored record is whole and counted; each machine's current
    programs are those of its latest record; the changes replay the records;
    the catalogue's counts match the machines' programs. The records' count."""
    with engine.connect() as conn:
        by_machine, stored_changes = {}, {}
        text_columns, joined = stored_texts.joined(records)
        for r in conn.execute(sa.select(records, *text_columns).select_from(joined).order_by(records.c.id)):
            by_machine.setdefault(r.machine_id, []).append((r.id, set(texts.programs(r.programs_text))))
        for c in conn.execute(sa.select(changes.c.record_id, changes.c.added, programs.c.name)
                              .join(programs, programs.c.id == changes.c.program_id)):
            stored_changes.setdefault(c.record_id, set()).add((c.name, c.added))
        for m in conn.execute(sa.select(machines)):
            rows = by_machine.get(m.id, [])
            assert (m.record_count, m.last_record_id) == (len(rows), rows[-1][0])
            assert set(conn.execute(sa.select(programs.c.name).join(machine_programs).where(
                machine_programs.c.machine_id == m.id)).scalars()) == rows[-1][1]
            for (_, old), (i, new) in zip(rows, rows[1:]):
                assert stored_changes.get(i, set()) == {(n, True) for n in new - old} | {(n, False) for n in old - new}
        counts = dict(conn.execute(sa.select(machine_programs.c.program_id, sa.func.count())
                                   .group_by(machine_programs.c.program_id)).fetchall())
        assert {p: n for p, n in queries.machine_counts(conn).items() if n} == counts
        return sum(len(rows) for rows in by_machine.values())


def test_serve_announces_its_port_and_stops_by_itself(db_url):
    done = run_cli("serve", "--db", db_url, "--listen", "127.0.0.1:0", "--workers", "1", "--max-seconds", "2")
    assert done.returncode == 0 and done.stdout.startswith("READY ")


@pytest.mark.parametrize("listen", ["0.0.0.0:8080", "192.0.2.1:80", "[::]:8080", "inventory.example:80"])
def test_serve_off_loopback_needs_a_front_or_its_flag(listen, capsys, tmp_path):
    assert cli.main(["serve", "--listen", listen, "--db", "sqlite:///%s/x.sqlite" % tmp_path]) == 2
    assert "--no-front" in capsys.readouterr().err


def test_add_admin_and_dump(db_url):
    for password, code in (("pw one", 0), ("pw two", 0), ("", 1)):
        done = run_cli("add-admin", "root", "--db", db_url, stdin=password + "\n")
        assert done.returncode == code and ("new password" in done.stdout) == (password == "pw two")
    engine = db.create_engine(db_url)
    assert auth.check_admin(engine, "root", "pw two") and not auth.check_admin(engine, "root", "pw one")
    ingest.ingest(engine, ingest.Record("Jürgen", "00-0C-29-3A-5B-7F", "Café & Co <Setup>$#$A]]>B$#$",
                                        "NetBIOS Name: PC1$#$", ""), "10.1.2.3")
    engine.dispose()
    out = run_cli("dump", "--db", db_url).stdout
    assert "  UserName: Jürgen\n" in out and "  ProgramsText:\n    Café & Co <Setup>\n    A]]>B\n" in out
    assert "from 10.1.2.3, machine 00-0C-29-3A-5B-7F" in out


def test_records_from_many_threads_and_a_worker_killed_under_load(db_url):
    """Ten machines posted to from twenty threads at once, their first
    records included: all 200 taken. Then records of 1,500 programs while a
    worker is killed: no acknowledged record lost or stored twice, and every
    machine's counts, programs and changes agree with its records."""
    acknowledged, failed, lock = {}, [], threading.Lock()

    def client(t, stop):
        i = 0
        while (i < 10) if stop is None else not stop.is_set():
            n, user = t * 10 + i, "%s%d-%d" % ("k" if stop else "t", t, i)
            programs_ = (["%s program %d" % (user if j % 50 == 0 else "shared", j) for j in range(1500)] if stop
                         else ["Common", "P%d" % (n % 7), "Q%d" % (n % 3)])
            status, answer = http_post(service.port, envelope(
                user=user, address="00-00-00-00-01-%02X" % (n % 10), name="PC%d" % (n % 10), programs=programs_))
            with lock:
                if status == 200 and b"OK" in answer:
                    acknowledged[user] = "".join(p + "$#$" for p in programs_)
                elif stop is None:
                    failed.append((status, answer))
            i += 1

    def clients(count, stop=None):
        threads = [threading.Thread(target=client, args=(t, stop)) for t in range(count)]
        for t in threads:
            t.start()
        return threads

    with running_service(db_url, workers=2, threads=8) as service:
        for t in clients(20):
            t.join()
        assert failed == [] and len(acknowledged) == 200
        with socket.create_connection(("127.0.0.1", service.port), timeout=30) as raw:
            raw.sendall(b"NOT HTTP AT ALL\r\n\r\n")   # gunicorn's own answers carry the headers too
            reply = raw.recv(65536)
        assert reply.startswith(b"HTTP/1.1 400") and b"X-Content-Type-Options: nosniff" in reply
        stop = threading.Event()
        threads = clients(8, stop)
        time.sleep(3)
        victims = subprocess.run(["pgrep", "-P", str(service.pid)], capture_output=True, text=True).stdout.split()
        assert len(victims) == 2
        os.kill(int(victims[0]), signal.SIGKILL)
        time.sleep(4)
        stop.set()
        for t in threads:
            t.join()
    assert len(acknowledged) > 210
    engine = db.create_engine(db_url)
    try:
        stored_count = consistent(engine)
        with engine.connect() as conn:
            stored = {r["user_name"]: r["programs_text"] for r in queries.all_records(conn)}
            assert conn.execute(sa.select(sa.func.count()).select_from(machines)).scalar() == 10
    finally:
        engine.dispose()
    assert stored_count == len(stored)          # no record twice
    for user, text in acknowledged.items():
        assert stored.get(user) == text, user

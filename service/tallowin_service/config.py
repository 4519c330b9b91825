"""The service's settings: each one's default, what it is, and the
environment variable a deployment sets it with (TALLOWIN_<NAME>, so the
systemd unit's EnvironmentFile reaches every one). create_app takes a
setting from its config argument, else from the environment, else the
default; `serve --help` lists them from here."""

import os
import textwrap
from typing import Any, Callable, Dict, Mapping, NamedTuple, Optional

from . import db


class Setting(NamedTuple):
    name: str
    default: Any
    parse: Callable[[str], Any]
    meaning: str
    variable: str = ""  # the environment variable when not TALLOWIN_ + name

    @property
    def env(self) -> str:
        return self.variable or "TALLOWIN_" + self.name


def _yes(text: str) -> bool:
    value = text.strip().lower()
    if value not in ("1", "true", "yes", "on", "0", "false", "no", "off"):
        raise ValueError("expected true or false")
    return value in ("1", "true", "yes", "on")


SETTINGS = (
    Setting("DATABASE_URL", db.DEFAULT_URL, db.database_url,
            "the database: sqlite:///PATH (a plain path too) or postgresql://USER@HOST/NAME", "TALLOWIN_DB"),
    Setting("MAX_BODY_BYTES", 16 * 1024 * 1024, int, "the largest request body in bytes"),
    Setting("PROXY_HOPS", 0, int, "proxies in front that set X-Forwarded-For and -Proto"),
    Setting("SECRET_KEY", None, str,
            "the pages' session key (without it one is made once and kept in the database)"),
    Setting("SILENT_DAYS", 30, int, "days without a record after which the fleet page counts a PC silent"),
    Setting("MAX_RECORDS_IN_PROGRESS", 0, int,
            "records a worker process takes at once; more are answered 503 with Retry-After; 0: no limit"),
    Setting("RETRY_AFTER", 60, int, "seconds the 503 asks a client to wait"),
    Setting("UPGRADE_SCHEMA", True, _yes, "bring the database's schema up to date at start"),
)

DEFAULTS: Dict[str, Any] = {s.name: s.default for s in SETTINGS}


def read_settings(config: Optional[Mapping[str, Any]] = None,
             environ: Optional[Mapping[str, str]] = None) -> Dict[str, Any]:
    """The settings: CONFIG's, else the environment's, else the defaults
    (CONFIG may hold any Flask setting besides). A variable that does not
    parse stops the start with its name."""
    environ = os.environ if environ is None else environ
    values = dict(DEFAULTS)
    for s in SETTINGS:
        text = environ.get(s.env)
        if text:
            try:
                values[s.name] = s.parse(text)
            except ValueError as error:
                raise ValueError("%s=%r: %s" % (s.env, text, error)) from None
    values.update(config or {})
    return values


def help_text() -> str:
    """The settings as `serve --help` lists them."""
    lines = ["settings from the environment (an option given above wins):"]
    for s in SETTINGS:
        if s.name == "UPGRADE_SCHEMA":
            continue  # for tests; a deployment always upgrades
        default = "" if s.default is None else "; default %s" % s.default
        lines.append("  " + s.env)
        lines += textwrap.wrap(s.meaning + default, 76, initial_indent=" " * 6, subsequent_indent=" " * 6)
    return "\n".join(lines)

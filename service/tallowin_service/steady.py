"""Texts kept as their steady form: a PC's network, processor and profile
texts hold lines whose values move by themselves from one day to the next
(traffic counters, the memory load). Each such value is cut out, leaving
HOLE in its place, so that the day's text is the one kept already
(shared_texts), and the record keeps the values (records.volatile_values).

The record's column: for each of KINDS in order, its text's values joined by
HOLE (a value holds anything but these characters), the texts' fields joined
by NEXT; WHOLE where the text held one of the characters and was kept as it
came; all of it deflated (a PC's counters take some 200 bytes, half that
deflated, and PostgreSQL compresses nothing under about 2 KB). NULL when no
text has a value: the texts read as they are stored (as those of records
from before the column).
"""

import re
import zlib
from typing import Dict, List, Mapping, Optional, Tuple

from . import texts

# The lines that change by themselves run after run: the same list as the
# control's (src/upload/schedule.cpp, volatileLine), which leaves them out of
# the digest that decides whether a record is new. Kept alike (test_texts checks).
LABELS = (
    "Packets Sent: ", "Error Packets Sent: ", "Send Error Rate: ",
    "Packets Received: ", "Error Packets Received: ", "Receive Error Rate: ",
    "Approximate CPU Clock Rate: ",
    "Memory Load: ", "Available Physical Memory: ", "In-Use Physical Memory: ",
    "Available Page File Size: ", "In-Use Page File Size: ", "Available Virtual Memory: ",
    "In-Use Virtual Memory: ", "Charge Remaining: ", "Lifetime on Current Charge: ",
    "AC Line Status: ", "Battery Condition: ",
)

# XML 1.0 cannot carry these, even as references, so no text received holds
# them. (stored_profiles.MARK, "\x01", begins a list of sections: HOLE is
# never a text's first character, and is another one anyway.)
HOLE, NEXT, WHOLE = "\x02", "\x03", "\x04"
_OURS = (HOLE, NEXT, WHOLE)

# The texts that have such lines, in the column's order (the profile last:
# it comes with a second call, after its record).
KINDS = ("network", "processor", "profile")


# A line that begins with one of LABELS (after blanks), where the line
# begins: the first of them that fits, as in split's loop.
_LABELLED = re.compile(re.escape(texts.SEPARATOR) + " *(?:" + "|".join(map(re.escape, LABELS)) + ")")


def split(text: str) -> Tuple[str, Optional[List[str]]]:
    """TEXT's steady form and its values in order; (TEXT, None) when TEXT
    holds one of our characters (it is kept whole)."""
    if any(c in text for c in _OURS):
        return text, None
    values: List[str] = []
    joined = texts.with_line_starts(text)
    if joined is not None:  # the labelled lines found by one search (a profile has hundreds of others)
        kept: List[str] = []
        done = 0
        for found in _LABELLED.finditer(joined):
            end = joined.find(texts.SEPARATOR, found.end())
            end = len(joined) if end < 0 else end
            kept += (joined[done:found.end()], HOLE)
            values.append(joined[found.end():end])
            done = end
        kept.append(joined[done:])
        return "".join(kept)[len(texts.SEPARATOR):], values
    lines = text.split(texts.SEPARATOR)
    for i, line in enumerate(lines):
        rest = line.lstrip(" ")
        if rest.startswith(LABELS):
            cut = len(line) - len(rest) + len(next(label for label in LABELS if rest.startswith(label)))
            values.append(line[cut:])
            lines[i] = line[:cut] + HOLE
    return texts.SEPARATOR.join(lines), values


def _field(values: Optional[List[str]]) -> str:
    return WHOLE if values is None else HOLE.join(values)


def _pack(column: str) -> bytes:
    deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    return deflate.compress(column.encode("utf-8", "surrogatepass")) + deflate.flush()


def _unpack(column: Optional[bytes]) -> Optional[str]:
    return None if column is None else zlib.decompress(column, -15).decode("utf-8", "surrogatepass")


def split_texts(bodies: Mapping[str, Optional[str]]) -> Tuple[Dict[str, Optional[str]], Optional[bytes]]:
    """A record's texts ({kind: text or None}) as they are kept, and its
    column: the values of those of KINDS, in order."""
    kept = dict(bodies)
    fields: List[Optional[List[str]]] = []
    for kind in KINDS:
        values: Optional[List[str]] = []
        if bodies.get(kind) is not None:
            kept[kind], values = split(bodies[kind])  # type: ignore[arg-type]
        fields.append(values)
    if all(p == [] for p in fields):
        return kept, None
    return kept, _pack(NEXT.join(_field(p) for p in fields))


def with_profile(packed: Optional[bytes], values: Optional[List[str]]) -> Optional[bytes]:
    """A record's column once its profile's values are VALUES (split's)."""
    column = _unpack(packed)
    if column is None and values == []:
        return None
    fields = (column.split(NEXT) if column is not None else []) + [""] * len(KINDS)
    fields[KINDS.index("profile")] = _field(values)
    return _pack(NEXT.join(fields[:len(KINDS)]))


def restore(packed: Optional[bytes], bodies: Mapping[str, Optional[str]]) -> Dict[str, Optional[str]]:
    """The texts as received from BODIES, those of a record as kept, and the
    record's column. Raises ValueError when they do not fit together."""
    out = dict(bodies)
    column = _unpack(packed)
    if column is None:
        return out
    for kind, field in zip(KINDS, column.split(NEXT)):
        body = bodies.get(kind)
        if field == WHOLE or (body is None and not field):
            continue
        pieces = body.split(HOLE) if body is not None else []
        values = field.split(HOLE) if len(pieces) > 1 else []
        if len(values) != len(pieces) - 1 or (not values and field):
            raise ValueError("the record's values do not fit its %s text" % kind)
        out[kind] = "".join(p + v for p, v in zip(pieces, values + [""]))
    return out

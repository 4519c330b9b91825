"""Reading machine facts out of a record's texts.

A text is its lines, each followed by "$#$" (a line that itself holds "$#$"
reads as two lines: the control does not escape it, so nothing can tell them
apart afterwards; the record itself keeps the text as it came).
"""

import re
from typing import Dict, List, Optional, Set, Tuple

SEPARATOR = "$#$"

# What ingest takes of a record's fields for the machine, its programs and
# the lists (the record itself keeps every text as received). A longer value
# is cut, ends with MARK, and the record names the field in its "cut" list.
CAPS = {"UserName": 256, "AdapterAddress": 64, "ComputerName": 256, "ProgramName": 1024,
        "Processor": 256}
MARK = "\u2026"


def with_line_starts(text: str) -> Optional[str]:
    """TEXT with SEPARATOR before it, so that SEPARATOR + S found in it is a
    line that begins with S (a search in C instead of a loop over hundreds
    of lines); None when two separators overlap ("$#$#$"), where only
    splitting the text tells its lines."""
    joined = SEPARATOR + text
    return None if "$#$#$" in joined else joined


def cap(text: str, limit: int) -> str:
    return text if len(text) <= limit else text[:limit - 1] + MARK

_ZERO_ADDRESS = re.compile(r"^[0:\-. ]*$")


def lines(text: Optional[str]) -> List[str]:
    """The non-empty lines of a joined text, in order."""
    if not text:
        return []
    return [line for line in text.split(SEPARATOR) if line != ""]


def programs(text: Optional[str]) -> List[str]:
    """The distinct program names of a programs text, in first-seen order."""
    seen: Dict[str, None] = {}
    for name in lines(text):
        seen.setdefault(name, None)
    return list(seen)


def program_set(text: Optional[str]) -> Set[str]:
    """The distinct program names of a programs text, as a set (what
    programs() gives, without its order, and quicker)."""
    names = set(text.split(SEPARATOR)) if text else set()
    names.discard("")
    return names


def computer_name(network_text: Optional[str]) -> str:
    """The value of the first "NetBIOS Name: " line, trimmed; "" when absent."""
    for line in lines(network_text):
        if line.startswith("NetBIOS Name: "):
            return line[len("NetBIOS Name: "):].strip()
    return ""


def normal_address(address: Optional[str]) -> str:
    """An adapter address in one form: trimmed, upper case, hyphens (not
    colons) between its bytes, cut at its cap."""
    return cap((address or "").strip().upper().replace(":", "-"), CAPS["AdapterAddress"])


def usable_address(address: Optional[str]) -> Optional[str]:
    """The adapter address as a machine's key (normal_address), or None when
    it says nothing: empty, or all zeros (no NetBIOS on the PC)."""
    a = normal_address(address)
    if not a or _ZERO_ADDRESS.match(a):
        return None
    return a


def machine_key(address: Optional[str], network_text: Optional[str]) -> Optional[str]:
    """Which machine a record belongs to: its adapter address when usable,
    else "name:" and the computer name in upper case (NetBIOS names ignore
    case); None for a record with neither (ingest gives it a key of its own)."""
    a = usable_address(address)
    if a is not None:
        return a
    name = cap(computer_name(network_text), CAPS["ComputerName"]).upper()
    return "name:" + name if name else None


def capped_programs(text: Optional[str]) -> Tuple[Set[str], bool]:
    """The program names of a programs text as ingest takes them (each cut at
    its cap), and whether any was cut."""
    names = program_set(text)
    limit = CAPS["ProgramName"]
    if all(len(n) <= limit for n in names):
        return names, False
    return {cap(n, limit) for n in names}, True


# The network lines whose values the search finds a PC by: its addresses and
# its DNS names (the interface blocks' lines are indented).
NETWORK_NAME_LABELS = ("IP Address: ", "DNS Host Name: ", "Fully Qualified Domain Name: ")
NETWORK_NAME_CHARS = 255
_LOOPBACK = ("127.0.0.1", "::1", "localhost")
# Adapter addresses are kept as this and their hex digits in lower case,
# whatever notation they came in, so that a search can match their start.
MAC_PREFIX = "mac:"
_NOT_HEX = re.compile(r"[^0-9a-f]")


def network_names(network_text: Optional[str], adapter_address: Optional[str] = "") -> List[str]:
    """What the search matches a PC by, from its latest record: the IP
    addresses and DNS names of its network text (lower case, without
    loopback), and its adapter addresses (the record's and the interfaces')
    as MAC_PREFIX and hex digits; sorted."""
    found = set()
    macs = [adapter_address or ""]
    for line in lines(network_text):
        line = line.strip()
        if line.startswith("MAC Address: "):
            macs.append(line[len("MAC Address: "):])
        for label in NETWORK_NAME_LABELS:
            if line.startswith(label):
                value = line[len(label):].strip().lower()
                if value and value not in _LOOPBACK and len(value) <= NETWORK_NAME_CHARS:
                    found.add(value)
    for mac in macs:
        digits = _NOT_HEX.sub("", mac.lower())
        if 4 <= len(digits) <= 40 and digits.strip("0"):
            found.add(MAC_PREFIX + digits)
    return sorted(found)


def processor_summary(processor_text: Optional[str]) -> str:
    """One short line for a list of PCs: the maker (else the architecture),
    the number of processors and the clock rate, from the processor lines."""
    values = {}
    for line in lines(processor_text):
        label, sep, value = line.partition(": ")
        if sep and label not in values:
            values[label] = value.strip()
    parts = []
    maker = values.get("CPU Manufacturer") or values.get("Processor Architecture")
    if maker:
        parts.append(maker)
    count = values.get("Number Of Processors")
    if count:
        parts.append(count + (" processor" if count == "1" else " processors"))
    clock = values.get("Approximate CPU Clock Rate")
    if clock:
        parts.append(clock)
    return cap(", ".join(parts), CAPS["Processor"])

"""Reading machine facts out of a record's texts.

A text is its lines, each followed by "$#$" (a line that itself holds "$#$"
reads as two lines: the control does not escape it, so nothing can tell them
apart afterwards; the record itself keeps the text as it came).
"""

import re

SEPARATOR = "$#$"

_ZERO_ADDRESS = re.compile(r"^[0:\-. ]*$")


def lines(text):
    """The non-empty lines of a joined text, in order."""
    if not text:
        return []
    return [line for line in text.split(SEPARATOR) if line != ""]


def programs(text):
    """The distinct program names of a programs text, in first-seen order."""
    seen = {}
    for name in lines(text):
        seen.setdefault(name, None)
    return list(seen)


def program_set(text):
    """The distinct program names of a programs text, as a set (what
    programs() gives, without its order, and quicker)."""
    names = set(text.split(SEPARATOR)) if text else set()
    names.discard("")
    return names


def computer_name(network_text):
    """The value of the first "NetBIOS Name: " line, trimmed; "" when absent."""
    for line in lines(network_text):
        if line.startswith("NetBIOS Name: "):
            return line[len("NetBIOS Name: "):].strip()
    return ""


def usable_address(address):
    """The adapter address as a machine's key (trimmed, upper case), or None
    when it says nothing: empty, or all zeros (no NetBIOS on the PC)."""
    a = (address or "").strip().upper()
    if not a or _ZERO_ADDRESS.match(a):
        return None
    return a


def machine_key(address, network_text):
    """Which machine a record belongs to: its adapter address when usable,
    else "name:" and the computer name in upper case (NetBIOS names ignore
    case). Records with neither share the key "name:"."""
    a = usable_address(address)
    if a is not None:
        return a
    return "name:" + computer_name(network_text).upper()


def processor_summary(processor_text):
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
    return ", ".join(parts)

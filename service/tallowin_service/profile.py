"""The complete profile a PC sends after its record: its lines as the control
shows them, split into sections for the PC's page, and the facts
administrators filter on, read by their labels into columns of machines.

Nothing here fails on what a PC sends: a label missing, a value unreadable or
a section garbled leaves that fact None."""

import re
from typing import Dict, List, Optional, Tuple

from . import texts

# Each section in the profile's order: its title, and the first lines that
# open it (None: it has no label of its own and follows the section before
# it, after that one's closing empty line).
SECTIONS: Tuple[Tuple[str, Optional[Tuple[str, ...]]], ...] = (
    ("Operating system", ("Operating System Name: ",)),
    ("Installed programs", None),
    ("Processor", ("Processor Architecture: ",)),
    ("Power", ("AC Line Status: ",)),
    ("Memory", ("Memory Load: ",)),
    ("Ports", None),
    ("PCI bus", ("PCI Adapter Name: ", "No PCI Adapters Found")),
    ("SCSI bus", ("SCSI Device Name: ", "No SCSI Devices Found")),
    ("USB bus", ("USB Device Name: ", "No USB Devices Found")),
    ("FireWire bus", ("IEEE 1394/FireWire Device Name: ", "No IEEE1394/FireWire Devices Found")),
    ("PCMCIA bus", ("PCMCIA Card Name: ", "No PCMCIA Cards Found")),
    ("Network", ("Fully Qualified Domain Name: ", "NetBIOS Name: ", "DNS Host Name: ")),
    ("User interface", ("Keyboard Type: ",)),
    ("Locale", ("Locale ID: ",)),
    ("Time", ("Currently On: ",)),
    ("Printers", None),
)
# Sections with no empty line inside: their first empty line closes them.
_CLOSED_BY_EMPTY_LINE = {"Operating system", "Memory", "Time"}

# The device buses' counted lines: one per device.
BUSES = {"pci": "PCI Adapter Name: ", "scsi": "SCSI Device Name: ", "usb": "USB Device Name: ",
         "firewire": "IEEE 1394/FireWire Device Name: ", "pcmcia": "PCMCIA Card Name: "}

# The machines columns the facts fill, in the order the pages show them.
FACT_COLUMNS = ("os_name", "os_version", "os_build", "os_release", "architecture", "cpu_name", "cpu_count",
                "cpu_mhz", "memory_bytes", "time_zone", "locale", "language", "printers",
                "pci_devices", "scsi_devices", "usb_devices", "firewire_devices", "pcmcia_devices")

# What a text fact may hold (longer ones are cut, as the record's fields are).
FACT_CAP = 200


def lines(profile_text: Optional[str]) -> List[str]:
    """Every line of the profile, empty ones too ("$#$" ends each)."""
    if not profile_text:
        return []
    parts = profile_text.split(texts.SEPARATOR)
    if parts and parts[-1] == "":
        parts.pop()
    return parts


def sections(profile_text: Optional[str]) -> List[Tuple[str, List[str]]]:
    """[(title, lines)] in the profile's order, each without its closing
    empty lines. Lines before any known section come under "Profile"."""
    out: List[Tuple[str, List[str]]] = []
    current = -1
    for line in lines(profile_text):
        opened = _opens(line, current)
        if opened is not None:
            current = opened
            out.append((SECTIONS[current][0], [line]))
            continue
        if (line == "" and 0 <= current < len(SECTIONS) - 1 and SECTIONS[current][0] in _CLOSED_BY_EMPTY_LINE
                and SECTIONS[current + 1][1] is None):
            current += 1
            out.append((SECTIONS[current][0], []))
            continue
        if not out:
            out.append(("Profile", []))
        out[-1][1].append(line)
    for _, body in out:
        while body and body[-1] == "":
            body.pop()
    return [(title, body) for title, body in out if body]


def chunks(profile_text: str) -> List[str]:
    """The profile cut where its sections begin (as sections() finds them),
    each piece with its separators: joined they give the text exactly,
    whatever it holds. A text with no section is one piece ("": none)."""
    cutter = _Cutter(profile_text)
    joined = texts.with_line_starts(profile_text)
    if joined is None:
        pos = 0
        for line in profile_text.split(texts.SEPARATOR):
            cutter.line(pos, line)
            pos += len(line) + len(texts.SEPARATOR)
    else:
        # Only the lines that may open or close a section, found by one
        # search, and each line right after a closing empty one: the others
        # (most of a profile's hundreds) change nothing.
        for found in _MAY_CUT.finditer(joined):
            pos = found.start()
            if cutter.closed and pos != cutter.next_line:
                cutter.line(cutter.next_line, "-")  # any line that neither opens nor is empty
            end = profile_text.find(texts.SEPARATOR, pos)
            cutter.line(pos, profile_text[pos:end if end >= 0 else len(profile_text)])
        if cutter.closed and cutter.next_line < len(profile_text):
            cutter.line(cutter.next_line, "-")
    return cutter.pieces()


class _Cutter:
    """chunks' loop, one line at a time (POS: where the line begins)."""

    def __init__(self, text: str):
        self.text, self.current, self.start, self.closed, self.next_line = text, -1, 0, False, 0
        self.out: List[str] = []

    def line(self, pos: int, line: str) -> None:
        opened = _opens(line, self.current)
        if opened is not None or self.closed:
            if pos > self.start:
                self.out.append(self.text[self.start:pos])
            self.start, self.current = pos, opened if opened is not None else self.current + 1
        # An empty line that closes a section whose next one has no label.
        current = self.current
        self.closed = (opened is None and line == "" and 0 <= current < len(SECTIONS) - 1
                       and SECTIONS[current][0] in _CLOSED_BY_EMPTY_LINE and SECTIONS[current + 1][1] is None)
        self.next_line = pos + len(line) + len(texts.SEPARATOR)

    def pieces(self) -> List[str]:
        if len(self.text) > self.start:
            self.out.append(self.text[self.start:])
        return self.out


# Every opening line with its section, in the sections' order; and all of
# them at once, for one quick test of each of a profile's hundreds of lines.
_ANCHORS = tuple((a, i) for i, (_, anchors) in enumerate(SECTIONS) for a in anchors or ())
_ANY_ANCHOR = tuple(a for a, _ in _ANCHORS)
# Where a line that opens a section, or an empty one, begins (in the text
# with a separator before it: texts.with_line_starts).
_MAY_CUT = re.compile(re.escape(texts.SEPARATOR) + "(?=" + "|".join(map(re.escape, _ANY_ANCHOR + (texts.SEPARATOR,)))
                      + r"|\Z)")


def _opens(line: str, current: int) -> Optional[int]:
    """The index of a later section that LINE opens, or None."""
    if not line.startswith(_ANY_ANCHOR):
        return None
    for anchor, i in _ANCHORS:
        if i > current and line.startswith(anchor):
            return i
    return None


def _whole(text: Optional[str]) -> Optional[int]:
    """The first whole number in TEXT with its digit grouping (, . blank
    apostrophe) taken out; None when there is none or it is absurd."""
    if not text:
        return None
    m = re.search(r"\d[\d,.'\u00a0\u202f ]*", text)
    if not m:
        return None
    digits = re.sub(r"\D", "", m.group(0))
    return int(digits) if digits and len(digits) <= 18 else None


def _text(value: Optional[str]) -> Optional[str]:
    value = (value or "").strip()
    return texts.cap(value, FACT_CAP) if value else None


# The labels facts reads (each ends with its only ": ").
_READ = ("Operating System Name: ", "Operating System Major Version: ", "Operating System Minor Version: ",
         "Operating System Build Number: ", "Service Pack Description: ", "Processor Architecture: ",
         "CPU Manufacturer: ", "Number Of Processors: ", "Approximate CPU Clock Rate: ", "Total Physical Memory: ",
         "Standard Time Name: ", "Locale ID: ", "Language Name (in English): ")
_PRINTER = "  Port: "  # one line per printer, in its block


def _labelled(profile_text: Optional[str]) -> Tuple[Dict[str, str], Dict[str, int], int]:
    """The value of each label's first line, the bus labels' counts of
    lines, and the printers."""
    joined = texts.with_line_starts(profile_text or "")
    if joined is not None:
        first: Dict[str, str] = {}
        for label in _READ:
            at = joined.find(texts.SEPARATOR + label)
            if at >= 0:
                at += len(texts.SEPARATOR + label)
                end = joined.find(texts.SEPARATOR, at)
                first[label] = joined[at:end if end >= 0 else len(joined)]
        return (first, {label: joined.count(texts.SEPARATOR + label) for label in BUSES.values()},
                joined.count(texts.SEPARATOR + _PRINTER))
    first, counts, printers = {}, {label: 0 for label in BUSES.values()}, 0
    for line in lines(profile_text):
        if line.startswith(_PRINTER):
            printers += 1
            continue
        label, sep, value = line.partition(": ")
        if not sep:
            continue
        label += ": "
        if label in counts:
            counts[label] += 1
        first.setdefault(label, value)
    return first, counts, printers


def facts(profile_text: Optional[str]) -> Dict[str, Optional[object]]:
    """The FACT_COLUMNS from the profile's lines (the first line of each
    label counts); None where a label is missing or its value unreadable."""
    first, counts, printers = _labelled(profile_text)
    major, minor = _whole(first.get("Operating System Major Version: ")), \
        _whole(first.get("Operating System Minor Version: "))
    # "Total Physical Memory: 17,179,869,184 bytes (16.00 GB)": the bytes.
    memory = first.get("Total Physical Memory: ")
    memory_bytes = _whole(memory.partition(" bytes")[0]) if memory and " bytes" in memory else None
    return {
        "os_name": _text(first.get("Operating System Name: ")),
        "os_version": "%d.%d" % (major, minor) if major is not None and minor is not None else None,
        "os_build": _small(_whole(first.get("Operating System Build Number: "))),
        "os_release": _text(first.get("Service Pack Description: ")),
        "architecture": _text(first.get("Processor Architecture: ")),
        "cpu_name": _text(first.get("CPU Manufacturer: ")),
        "cpu_count": _small(_whole(first.get("Number Of Processors: "))),
        "cpu_mhz": _small(_whole(first.get("Approximate CPU Clock Rate: "))),
        "memory_bytes": memory_bytes,
        "time_zone": _text(first.get("Standard Time Name: ")),
        "locale": _text(first.get("Locale ID: ")),
        "language": _text(first.get("Language Name (in English): ")),
        "printers": printers if profile_text else None,
        **{bus + "_devices": (counts[label] if profile_text else None) for bus, label in BUSES.items()},
    }


def _small(number: Optional[int]) -> Optional[int]:
    """A number that fits an INTEGER column, else None."""
    return number if number is not None and number < 2 ** 31 else None


# Memory bands for the breakdown: (label, lower bound in GB, upper bound).
MEMORY_BANDS = (("under 4 GB", 0, 4), ("4-8 GB", 4, 8), ("8-16 GB", 8, 16), ("16-32 GB", 16, 32),
                ("32 GB and more", 32, None))
GB = 1024 ** 3

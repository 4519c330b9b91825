"""What the queries return: plain dicts (JSON as they are), described here
for the type checker and the reader. Times are ISO texts ending in "Z"."""

from typing import List, Optional, TypedDict


class _Identity(TypedDict):
    key: str  # the adapter address, or "name:" + computer name
    adapter_address: str
    computer_name: str
    last_user: str
    first_seen: str
    last_seen: str
    records: int
    programs: int
    # From the latest complete profile (profile.FACT_COLUMNS); None: unknown.
    os_name: Optional[str]
    os_version: Optional[str]
    os_build: Optional[int]
    os_release: Optional[str]
    architecture: Optional[str]
    cpu_name: Optional[str]
    cpu_count: Optional[int]
    cpu_mhz: Optional[int]
    memory_bytes: Optional[int]
    time_zone: Optional[str]
    locale: Optional[str]
    language: Optional[str]
    printers: Optional[int]
    pci_devices: Optional[int]
    scsi_devices: Optional[int]
    usb_devices: Optional[int]
    firewire_devices: Optional[int]
    pcmcia_devices: Optional[int]


class Machine(_Identity):
    processor: str  # the summary of its processor lines


class ProfileSection(TypedDict):
    section: str
    lines: List[str]


class MachineDetail(_Identity):
    """A machine with its latest record's lines and its current programs."""
    processor: List[str]
    network: List[str]
    last_record_id: Optional[int]
    current_programs: List[str]
    profile: List[ProfileSection]


class _Page(TypedDict):
    total: int
    offset: int
    limit: int


class MachinePage(_Page):
    machines: List[Machine]


class HistoryRecord(TypedDict):
    """A record in a machine's history: programs counted, changes named."""
    id: int
    received: str
    sender: str
    secret: Optional[str]  # the enrollment secret's name (None: none)
    user_name: str
    adapter_address: str
    programs: int
    cut: List[str]
    added: List[str]
    removed: List[str]


class HistoryPage(_Page):
    records: List[HistoryRecord]


class ListedRecord(TypedDict):
    id: int
    machine: str
    received: str
    sender: str
    secret: Optional[str]
    user_name: str
    adapter_address: str


class RecordPage(_Page):
    records: List[ListedRecord]


class StoredRecord(ListedRecord):
    """A record whole, its texts as received."""
    programs_text: str
    network_text: str
    processor_text: str
    cut: List[str]  # the fields ingest took cut
    profile_text: Optional[str]  # the complete profile sent after it (None: none came)


class ProgramCount(TypedDict):
    name: str
    machines: int


class ProgramPage(_Page):
    programs: List[ProgramCount]


class ProgramMachines(_Page):
    name: str
    machines: List[Machine]


class Change(TypedDict):
    record_id: int
    received: str
    machine: str
    computer_name: str
    program: str
    added: bool


class FleetSummary(TypedDict):
    machines: int
    records: int
    programs: int
    silent_days: float
    silent: int
    widespread: List[ProgramCount]
    latest_changes: List[Change]


class FleetActivity(TypedDict):
    seen_day: int
    seen_week: int
    silent: List[Machine]

"""Which machine a record belongs to: its adapter address in one form, else
the computer name read out of its network text."""

import pytest

from tallowin_service import texts


@pytest.mark.parametrize("address, network, key", [
    ("00-0c-29-3a-5b-7f", "", "00-0C-29-3A-5B-7F"),
    (" 00:0C:29:3A:5B:7F ", "NetBIOS Name: PC$#$", "00-0C-29-3A-5B-7F"),
    ("00-00-00-00-00-00", "DNS Host Name: x$#$NetBIOS Name:  pc9 $#$", "name:PC9"),
    ("00:00:00:00:00:00", "NetBIOS Name: A$#$", "name:A"),
    ("", "NetBIOS Name: PC-7$#$DNS Host Name: pc-7$#$", "name:PC-7"),
    ("   ", "", None),
    ("", "NetBIOS Name: $#$", None),
    ("", "Interface: NetBIOS Name: X$#$", None),   # only a line that starts with the label
])
def test_machine_key(address, network, key):
    assert texts.machine_key(address, network) == key

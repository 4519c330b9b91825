"""Reading a machine's name and key out of a record."""

import pytest

from tallowin_service import texts


@pytest.mark.parametrize("network, name", [
    ("NetBIOS Name: PC-7$#$DNS Host Name: pc-7$#$", "PC-7"),
    ("DNS Host Name: x$#$NetBIOS Name:  SPACED $#$", "SPACED"),
    ("NetBIOS Name: $#$", ""),
    ("Interface: NetBIOS Name: X$#$", ""),   # only a line that starts with the label
    ("", ""),
])
def test_computer_name(network, name):
    assert texts.computer_name(network) == name


@pytest.mark.parametrize("address, network, key", [
    ("00-0c-29-3a-5b-7f", "", "00-0C-29-3A-5B-7F"),
    (" 00-0C-29-3A-5B-7F ", "NetBIOS Name: PC$#$", "00-0C-29-3A-5B-7F"),
    ("00-00-00-00-00-00", "NetBIOS Name: pc9$#$", "name:PC9"),
    ("", "NetBIOS Name: PC9$#$", "name:PC9"),
    ("   ", "", None),
    ("00:00:00:00:00:00", "NetBIOS Name: A$#$", "name:A"),
    ("00:0c:29:3a:5b:7f", "", "00-0C-29-3A-5B-7F"),
])
def test_machine_key(address, network, key):
    assert texts.machine_key(address, network) == key

"""Which machine a record belongs to when its address is of no use: the
computer name read out of its network text (test_ingest has the rest)."""

import pytest

from tallowin_service import texts


@pytest.mark.parametrize("network, key", [
    ("DNS Host Name: x$#$NetBIOS Name:  pc9 $#$", "name:PC9"),
    ("NetBIOS Name: $#$", None),
    ("Interface: NetBIOS Name: X$#$", None),   # only a line that starts with the label
])
def test_machine_key_from_the_computer_name(network, key):
    assert texts.machine_key("00-00-00-00-00-00", network) == key

"""Which machine a record belongs to when its address is of no use: the
computer name read out of its network text (test_ingest has the rest); the
moving lines the service keeps apart are the control's."""

import pathlib
import re

import pytest

from tallowin_service import steady, texts


@pytest.mark.parametrize("network, key", [
    ("DNS Host Name: x$#$NetBIOS Name:  pc9 $#$", "name:PC9"),
    ("NetBIOS Name: $#$", None),
    ("Interface: NetBIOS Name: X$#$", None),   # only a line that starts with the label
])
def test_machine_key_from_the_computer_name(network, key):
    assert texts.machine_key("00-00-00-00-00-00", network) == key


def test_the_moving_lines_are_the_controls():
    # The control leaves these out of its scheduled run's digest; a label on
    # one side only would store a text a day, or send a record a day.
    source = (pathlib.Path(__file__).parents[2] / "src" / "upload" / "schedule.cpp").read_text()
    listed = re.search(r"kLabels\[\] = \{(.*?)\};", source, re.S).group(1)
    assert tuple(re.findall(r'"([^"]*)"', listed)) == steady.LABELS

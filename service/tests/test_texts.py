"""The lines whose values the service keeps with the record are the control's moving lines."""

import pathlib
import re

from tallowin_service import steady


def test_the_moving_lines_are_the_controls():
    # The control leaves these out of its scheduled run's digest; a label on
    # one side only would store a text a day, or send a record a day.
    source = (pathlib.Path(__file__).parents[2] / "src" / "upload" / "schedule.cpp").read_text()
    listed = re.search(r"kLabels\[\] = \{(.*?)\};", source, re.S).group(1)
    assert tuple(re.findall(r'"([^"]*)"', listed)) == steady.LABELS

"""One pager for the API and the pages: a question asks for LIMIT rows from
OFFSET, both clamped here; the pages number their pages from 1 over the
same offsets."""

import math
from typing import Optional, Tuple

DEFAULT_LIMIT = 100
MAX_PAGE = 1000            # the most rows one question answers
MAX_OFFSET = 10 ** 12      # PostgreSQL's bigint holds it with room
MAX_PAGE_NUMBER = 10 ** 9


def window(offset: Optional[int], limit: Optional[int]) -> Tuple[int, int]:
    """(offset, limit) clamped to what a question takes."""
    start = min(max(0, int(offset or 0)), MAX_OFFSET)
    size = int(limit if limit is not None else DEFAULT_LIMIT)
    return start, max(1, min(size, MAX_PAGE))


def page_number(text: Optional[str]) -> int:
    """A page's number from its parameter: 1 for anything that is none."""
    try:
        return min(max(1, int((text or "1")[:12])), MAX_PAGE_NUMBER)
    except ValueError:
        return 1


def page_offset(number: int, size: int) -> int:
    """The offset of page NUMBER (from 1) of SIZE rows."""
    return (number - 1) * size


def page_count(total: int, size: int) -> int:
    """How many pages TOTAL rows make (at least one, if empty)."""
    return max(1, math.ceil(total / size))

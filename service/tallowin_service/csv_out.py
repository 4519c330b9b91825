"""CSV downloads, one writer for the API and the pages: streamed, with every
cell a spreadsheet would run as a formula defused."""

import csv
import io
from typing import Any, Iterable, Sequence

from flask import Response, stream_with_context

# A spreadsheet runs a cell as a formula when it starts with one of these,
# also after leading blanks or line breaks, the full-width forms included.
_FORMULA = ("=", "+", "-", "@", "|", "%", "\uff1d", "\uff0b", "\uff0d", "\uff20")


def cell(value: Any) -> Any:
    """A cell's text: such a text gets a leading apostrophe, which
    spreadsheets show as text."""
    if value is None:
        return ""
    if not isinstance(value, str):
        return value
    if value[:1] in ("\t", "\r", "\n") or value.lstrip(" \t\r\n")[:1] in _FORMULA:
        return "'" + value
    return value


def csv_response(filename: str, header: Sequence[str], rows: Iterable[Sequence[Any]]) -> Response:
    """Streams HEADER and ROWS (an iterable of lists; a generator may hold a
    connection for as long as the answer is being sent) as a download."""
    def generate():
        buffer = io.StringIO()
        writer = csv.writer(buffer, lineterminator="\r\n")
        writer.writerow(header)
        for row in rows:
            writer.writerow([cell(v) for v in row])
            if buffer.tell() > 65536:
                yield buffer.getvalue()
                buffer.seek(0)
                buffer.truncate()
        yield buffer.getvalue()

    response = Response(stream_with_context(generate()), mimetype="text/csv")
    response.headers["Content-Disposition"] = 'attachment; filename="%s"' % filename
    return response

"""The SOAP endpoint: setSaveSoftwareInformation and, after it in the same
exchange, setSaveProfileInformation, SOAP 1.1 document/literal. It turns an
envelope into a Record (or a profile) and hands it to ingest, nothing more.

The request is checked against the description's schema (lxml): a missing,
extra or misplaced parameter, an unknown operation or a malformed envelope is
answered with a SOAP fault that says what was wrong, and nothing is stored.
"""

import logging
import re
from typing import Any, Optional, Tuple
from xml.sax.saxutils import escape

from lxml import etree

import spyne.const
from spyne import Application, Fault, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

from . import ingest

NAMESPACE = "urn:tallowin:inventory"
SERVICE_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"

log = logging.getLogger(__name__)

# spyne runs a full gc.collect() after a request once a second at most, for
# the files of attachments, which this service never has; under load that
# collection cost more than the rest of the request.
spyne.const.MIN_GC_INTERVAL = 300.0

Text = Unicode(min_occurs=1, nillable=False)


class InventoryService(ServiceBase):
    @rpc(Text, Text, Text, Text, Text, _returns=Unicode)
    def setSaveSoftwareInformation(ctx, UserName, AdapterAddress, ProgramsText, NetworkText,
                                   ProcessorText):
        record = ingest.Record(UserName, AdapterAddress, ProgramsText, NetworkText, ProcessorText)
        env = ctx.transport.req_env
        ingest.ingest(ctx.app.tallowin_engine, record, env.get("REMOTE_ADDR", ""),
                      secret_name=env.get("tallowin.secret"))
        return "OK"

    @rpc(Text, Text, Text, _returns=Unicode)
    def setSaveProfileInformation(ctx, UserName, AdapterAddress, ProfileText):
        try:
            ingest.ingest_profile(ctx.app.tallowin_engine, UserName, AdapterAddress, ProfileText,
                                  ctx.transport.req_env.get("REMOTE_ADDR", ""))
        except ingest.NoRecordForProfile as error:
            raise Fault("Client", str(error))
        return "OK"


def _log_fault(ctx):
    error = getattr(ctx, "in_error", None) or getattr(ctx, "out_error", None)
    if error is not None:
        log.warning("SOAP request from %s refused: %s",
                    ctx.transport.req_env.get("REMOTE_ADDR", "?"), error)


def make_soap_app(engine: Any, max_body: int) -> WsgiApplication:
    """The spyne WSGI application over ENGINE, reading at most MAX_BODY bytes."""
    application = Application([InventoryService], tns=NAMESPACE, name="SaveSoftware",
                              in_protocol=Soap11(validator="lxml"), out_protocol=Soap11())
    application.tallowin_engine = engine
    application.event_manager.add_listener("method_exception_object", _log_fault)
    return WsgiApplication(application, max_content_length=max_body)


ENVELOPE_NS = "http://schemas.xmlsoap.org/soap/envelope/"

# What a request may hold before any XML parser sees it. The control's
# envelope has about ten elements without attributes; libxml2 takes time
# quadratic in the attributes of one element (a million of them held a thread
# for minutes), so documents beyond these are refused after a scan that costs
# a few regular-expression steps per tag.
MAX_ELEMENTS = 64
MAX_ATTRIBUTES = 16
MAX_DEPTH = 16
MAX_NAME_BYTES = 1024       # a tag's or an attribute's name, an attribute's value
MAX_TEXT_BYTES = 10000000   # one element's text (libxml2 refuses larger text nodes anyway)

_NAME = re.compile(rb"[^\s<>/=\"'!?]{1,%d}" % MAX_NAME_BYTES)
_ATTRIBUTE = re.compile(rb"\s+[^\s<>/=\"']{1,%d}\s*=\s*(?:\"[^\"<]{0,%d}\"|'[^'<]{0,%d}')"
                        % (MAX_NAME_BYTES, MAX_NAME_BYTES, MAX_NAME_BYTES))
_TAG_END = re.compile(rb"\s*(/?)>")
_SKIPPED = ((b"<!--", b"-->"), (b"<![CDATA[", b"]]>"), (b"<?", b"?>"))


def _malformed(at):
    # Refused here, not left to the parser: libxml2 is as slow on an unclosed
    # tag of many attributes as on a closed one.
    return ("the request is not well-formed XML, or a name or value is above %d bytes (at byte %d)"
            % (MAX_NAME_BYTES, at))


def markup_problem(body: bytes) -> Optional[str]:
    """What makes a body too costly to parse, in words, or None: too many
    elements, too deep, too many attributes on one element, an over-long name
    or value, too much text in one element. Only tags are looked at (found by
    their "<": text cannot hold one unescaped), so the scan costs little
    whatever the size. What it lets through, lxml still checks in full."""
    if b"\0" in body:
        return "the request must be UTF-8 (it holds NUL bytes)"
    elements = depth = 0
    text = 0
    pos = body.find(b"<")
    while pos >= 0:
        for opening, closing in _SKIPPED:
            if body.startswith(opening, pos):
                end = body.find(closing, pos + len(opening))
                if end < 0:
                    return _malformed(pos)
                if opening == b"<![CDATA[":
                    text += end - pos
                pos = end + len(closing)
                break
        else:
            if body.startswith(b"<!", pos):
                return "a document type declaration is not allowed"
            is_close = body.startswith(b"</", pos)
            name = _NAME.match(body, pos + 1 + is_close)
            if name is None:
                return _malformed(pos)
            at = name.end()
            if is_close:
                depth -= 1
            else:
                elements += 1
                if elements > MAX_ELEMENTS:
                    return "the request has more than %d elements" % MAX_ELEMENTS
                attributes = 0
                while True:
                    attribute = _ATTRIBUTE.match(body, at)
                    if attribute is None:
                        break
                    attributes += 1
                    if attributes > MAX_ATTRIBUTES:
                        return "an element has more than %d attributes" % MAX_ATTRIBUTES
                    at = attribute.end()
            tag_end = _TAG_END.match(body, at)
            if tag_end is None:
                return _malformed(at)
            if not is_close and not tag_end.group(1):
                depth += 1
                if depth > MAX_DEPTH:
                    return "the request nests elements deeper than %d" % MAX_DEPTH
            text = 0
            pos = tag_end.end()
        following = body.find(b"<", pos)
        text += (len(body) if following < 0 else following) - pos
        if text > MAX_TEXT_BYTES:
            return "an element holds more than %d bytes of text" % MAX_TEXT_BYTES
        pos = following
    return None


def _parser():
    # One per request: lxml lets one parser run in one thread at a time, so a
    # shared one made every request wait for the slowest.
    return etree.XMLParser(resolve_entities=False, no_network=True, load_dtd=False, huge_tree=False)


def read_envelope(body: bytes) -> Tuple[Optional[Tuple[str, str]], Any]:
    """((fault code, what is wrong with the request, in words), None), or
    (None, the operation's element). spyne checks the operation and its
    parameters against the schema; this refuses what is too costly to parse
    and catches what spyne would answer with an exception or let through (a
    header it does not understand)."""
    if not body.strip():
        return ("Client", "the request has no body"), None
    problem = markup_problem(body)
    if problem:
        return ("Client", problem), None
    try:
        root = etree.fromstring(body, _parser())
    except etree.XMLSyntaxError as error:
        return ("Client", "the request is not well-formed XML: %s" % error), None
    tree = root.getroottree()
    if tree.docinfo.doctype or tree.docinfo.internalDTD is not None:
        # The control never sends one; entities are a way to attack.
        return ("Client", "a document type declaration is not allowed"), None
    if root.tag != "{%s}Envelope" % ENVELOPE_NS:
        return ("Client", "the document is no SOAP 1.1 Envelope (found %s)" % root.tag), None
    for header in root.findall("{%s}Header" % ENVELOPE_NS):
        for entry in header:
            if isinstance(entry.tag, str) and entry.get("{%s}mustUnderstand" % ENVELOPE_NS) in ("1", "true"):
                return ("MustUnderstand", "the header %s is not understood here" % entry.tag), None
    bodies = root.findall("{%s}Body" % ENVELOPE_NS)
    if len(bodies) != 1:
        return ("Client", "the Envelope must hold one Body (found %d)" % len(bodies)), None
    calls = [child for child in bodies[0] if isinstance(child.tag, str)]
    if len(calls) != 1:
        return ("Client", "the Body must hold one operation element (found %d)" % len(calls)), None
    return None, calls[0]


_PROFILE_CALL = "{%s}setSaveProfileInformation" % NAMESPACE
_PROFILE_PARAMETERS = tuple("{%s}%s" % (NAMESPACE, name) for name in ("UserName", "AdapterAddress", "ProfileText"))


def profile_parameters(call: Any) -> Optional[Tuple[str, str, str]]:
    """The three texts of a setSaveProfileInformation in the plain form the
    control sends (no header, each parameter once and in order, text only),
    else None: then spyne reads it as any other request and says what is
    wrong. Its tens of KB of text make a profile costly for spyne to read a
    second time and check against the schema; this form needs neither."""
    body = call.getparent()
    if (call.tag != _PROFILE_CALL or call.attrib or len(call) != 3 or (call.text or "").strip()
            or len(body) != 1 or len(body.getparent()) != 1):
        return None
    values = []
    for element, tag in zip(call, _PROFILE_PARAMETERS):
        if (element.tag != tag or element.attrib or len(element) or element.text is None
                or (element.tail or "").strip()):
            return None
        values.append(element.text)
    return values[0], values[1], values[2]


# spyne's answer to a setSaveProfileInformation it took, byte for byte.
_PROFILE_OK = ("<?xml version='1.0' encoding='UTF-8'?>\n<soap11env:Envelope xmlns:soap11env="
               '"http://schemas.xmlsoap.org/soap/envelope/" xmlns:tns="urn:tallowin:inventory"><soap11env:Body>'
               "<tns:setSaveProfileInformationResponse><tns:setSaveProfileInformationResult>OK"
               "</tns:setSaveProfileInformationResult></tns:setSaveProfileInformationResponse></soap11env:Body>"
               "</soap11env:Envelope>").encode("utf-8")


def save_profile(engine: Any, environ: Any, parameters: Tuple[str, str, str]) -> Optional[bytes]:
    """spyne's answer to setSaveProfileInformation for a profile that
    profile_parameters read and that was kept, or None when it was not:
    then spyne reads the request and answers for itself (its transaction
    undone, the profile kept nowhere, so trying again changes nothing)."""
    try:
        ingest.ingest_profile(engine, *parameters, environ.get("REMOTE_ADDR", ""))
    except Exception:  # noqa: BLE001 -- spyne tries again, says what went wrong and logs it
        return None
    return _PROFILE_OK


_PLACEHOLDER = "http://tallowin.invalid" + SERVICE_PATH
_HOST = re.compile(r"^[A-Za-z0-9.\-]+(:[0-9]{1,5})?$|^\[[0-9A-Fa-f:.]+\](:[0-9]{1,5})?$")


class Wsdl:
    """The description, built once and given the endpoint address each
    client used: spyne would otherwise keep the address of the first request
    for every later one, wrong behind a second name or a proxy."""

    def __init__(self, soap_wsgi):
        interface = soap_wsgi.doc.wsdl11
        interface.build_interface_document(_PLACEHOLDER)
        self._text = interface.get_interface_document().decode("utf-8")
        if _PLACEHOLDER not in self._text:
            raise RuntimeError("the generated description has no endpoint address")

    def for_request(self, environ):
        host = environ.get("HTTP_HOST") or "%s:%s" % (environ.get("SERVER_NAME", "localhost"),
                                                      environ.get("SERVER_PORT", "80"))
        if not _HOST.match(host):
            host = "%s:%s" % (environ.get("SERVER_NAME", "localhost"), environ.get("SERVER_PORT", "80"))
        scheme = "https" if environ.get("wsgi.url_scheme") == "https" else "http"
        url = escape("%s://%s%s" % (scheme, host, SERVICE_PATH), {'"': "&quot;"})
        return self._text.replace(_PLACEHOLDER, url).encode("utf-8")


def fault_envelope(code: str, reason: str) -> bytes:
    """A SOAP 1.1 fault, for what is refused before spyne sees it."""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<soap11env:Envelope xmlns:soap11env='
            '"http://schemas.xmlsoap.org/soap/envelope/"><soap11env:Body><soap11env:Fault>'
            '<faultcode>soap11env:%s</faultcode><faultstring>%s</faultstring></soap11env:Fault>'
            '</soap11env:Body></soap11env:Envelope>' % (escape(code), escape(reason))).encode("utf-8")

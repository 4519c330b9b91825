"""The SOAP endpoint: one operation, setSaveSoftwareInformation, SOAP 1.1
document/literal. It turns an envelope into a Record and hands it to ingest,
nothing more.

The request is checked against the description's schema (lxml): a missing,
extra or misplaced parameter, an unknown operation or a malformed envelope is
answered with a SOAP fault that says what was wrong, and nothing is stored.
"""

import logging
import re
from xml.sax.saxutils import escape

from lxml import etree

import spyne.const
from spyne import Application, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

from . import ingest

NAMESPACE = "urn:tallowin:inventory"
SERVICE_PATH = "/Zelt/pcInventoryD.nsf/savesoftware"
FIELDS = ("UserName", "AdapterAddress", "ProgramsText", "NetworkText", "ProcessorText")

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
        ingest.ingest(ctx.app.tallowin_engine, record, env.get("REMOTE_ADDR", ""))
        return "OK"


def _log_fault(ctx):
    error = getattr(ctx, "in_error", None) or getattr(ctx, "out_error", None)
    if error is not None:
        log.warning("SOAP request from %s refused: %s",
                    ctx.transport.req_env.get("REMOTE_ADDR", "?"), error)


def make_soap_app(engine, max_body):
    """The spyne WSGI application over ENGINE, reading at most MAX_BODY bytes."""
    application = Application([InventoryService], tns=NAMESPACE, name="SaveSoftware",
                              in_protocol=Soap11(validator="lxml"), out_protocol=Soap11())
    application.tallowin_engine = engine
    application.event_manager.add_listener("method_exception_object", _log_fault)
    return WsgiApplication(application, max_content_length=max_body)


ENVELOPE_NS = "http://schemas.xmlsoap.org/soap/envelope/"
_parser = etree.XMLParser(resolve_entities=False, no_network=True, load_dtd=False, huge_tree=False)


def envelope_problem(body):
    """What is wrong with the shape of a request body, in words, or None.
    spyne checks the operation and its parameters against the schema; this
    catches what it would answer with an exception instead of a fault."""
    if not body.strip():
        return "the request has no body"
    try:
        root = etree.fromstring(body, _parser)
    except etree.XMLSyntaxError as error:
        return "the request is not well-formed XML: %s" % error
    tree = root.getroottree()
    if tree.docinfo.doctype or tree.docinfo.internalDTD is not None:
        # The control never sends one; entities are a way to attack.
        return "a document type declaration is not allowed"
    if root.tag != "{%s}Envelope" % ENVELOPE_NS:
        return "the document is no SOAP 1.1 Envelope (found %s)" % root.tag
    bodies = root.findall("{%s}Body" % ENVELOPE_NS)
    if len(bodies) != 1:
        return "the Envelope must hold one Body (found %d)" % len(bodies)
    calls = [child for child in bodies[0] if isinstance(child.tag, str)]
    if len(calls) != 1:
        return "the Body must hold one operation element (found %d)" % len(calls)
    return None


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


def fault_envelope(code, reason):
    """A SOAP 1.1 fault, for what is refused before spyne sees it."""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<soap11env:Envelope xmlns:soap11env='
            '"http://schemas.xmlsoap.org/soap/envelope/"><soap11env:Body><soap11env:Fault>'
            '<faultcode>soap11env:%s</faultcode><faultstring>%s</faultstring></soap11env:Fault>'
            '</soap11env:Body></soap11env:Envelope>' % (escape(code), escape(reason))).encode("utf-8")

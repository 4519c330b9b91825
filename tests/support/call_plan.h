// The call plan the upload tests and fuzzers write requests with:
// document/literal with qualified parameters, or rpc/encoded with unqualified ones.
#pragma once

#include "upload/soap/wsdl.h"

namespace tallowin::test {

inline soap::CallPlan Plan(bool rpc = false, bool soap12 = false) {
  soap::CallPlan p;
  p.endpoint = "http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware";
  p.soapAction = p.operationName = p.bodyElement = "setSaveSoftwareInformation";
  p.bodyNamespace = "urn:tallowin:inventory";
  p.version = soap12 ? soap::SoapVersion::Soap12 : soap::SoapVersion::Soap11;
  if (rpc) {
    p.style = soap::SoapStyle::Rpc;
    p.use = soap::SoapUse::Encoded;
    p.encodingStyle = "http://schemas.xmlsoap.org/soap/encoding/";
  }
  for (const char* n : {"UserName", "AdapterAddress", "ProgramsText", "NetworkText", "ProcessorText"})
    p.parameters.push_back({n, rpc ? "" : p.bodyNamespace});
  return p;
}

}  // namespace tallowin::test

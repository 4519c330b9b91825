// The service description reader over any bytes: a plan or a one-line
// reason, never a crash, a hang or a plan that breaks the rules the writer
// relies on.
#include <cstdlib>
#include <string_view>

#include "support/libxml2_reader.h"
#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"

using namespace tallowin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  test::Libxml2Reader reader(std::string_view(reinterpret_cast<const char*>(data), size));
  const soap::WsdlResult r = soap::ReadWsdl(reader);
  if (!r.ok()) {
    if (r.error.empty() || r.error.find('\n') != std::string::npos) abort();
    return 0;
  }
  const soap::CallPlan& plan = *r.plan;
  if (plan.parameters.size() != soap::kParameterCount) abort();
  if (plan.endpoint.rfind("http://", 0) != 0 && plan.endpoint.rfind("https://", 0) != 0) abort();
  // Whatever plan it gives must write a request that parses back.
  const soap::SoapRequest req = soap::WriteEnvelope(plan, {"a", "b", "c", "d", "e"});
  test::Libxml2Reader back(req.body);
  soap::XmlEvent e;
  for (int i = 0; i < 100000; ++i) {
    const soap::XmlEventType t = back.next(e);
    if (t == soap::XmlEventType::EndOfDocument) break;
    if (t == soap::XmlEventType::Error || t == soap::XmlEventType::Doctype) abort();
  }
  return 0;
}

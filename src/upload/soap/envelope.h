// Writing the one SOAP request from a call plan and five texts, and reading
// the service's answer far enough to tell a fault from an acceptance.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "upload/soap/wsdl.h"
#include "upload/soap/xml_reader.h"

namespace tallowin::soap {

// An answer larger than this is refused unread.
inline constexpr size_t kMaxResponseBytes = size_t{1} * 1024 * 1024;

struct SoapRequest {
  std::string body;  // UTF-8
  // Name and value of each header to send with the POST: Content-Type, and for
  // SOAP 1.1 SOAPAction (its value in quotes, "" for an empty action).
  std::vector<std::pair<std::string, std::string>> headers;
};

// The texts map to plan.parameters by position (user name, adapter address,
// programs, network, processor; for the profile's operation user name,
// adapter address, profile). A plan with another parameter count (which
// ReadWsdl never gives) writes as many as both have.
SoapRequest WriteEnvelope(const CallPlan& plan, std::span<const std::string_view> texts);
inline SoapRequest WriteEnvelope(const CallPlan& plan, const std::array<std::string_view, kParameterCount>& texts) {
  return WriteEnvelope(plan, std::span<const std::string_view>(texts));
}

// `text` escaped for element content or an attribute value: & < > " ' as
// references, carriage return (and in attributes tab and line feed) as a
// character reference so that it survives the receiver's line-end handling;
// invalid UTF-8 and every character XML 1.0 cannot carry (controls other than
// tab, line feed and carriage return; surrogates; U+FFFE, U+FFFF) as U+FFFD.
std::string XmlEscape(std::string_view text, bool forAttribute = false);

enum class ResponseKind {
  Accepted,  // a SOAP envelope whose body holds no fault
  Fault,     // a SOAP fault
  Invalid,   // not XML, a DTD, or not a SOAP envelope
};

struct SoapResponse {
  ResponseKind kind = ResponseKind::Invalid;
  // Fault: the fault code and text; Invalid: why. One line.
  std::string detail;
  bool accepted() const { return kind == ResponseKind::Accepted; }
};

// Reads an answer (SOAP 1.1 or 1.2) from `reader`.
SoapResponse ReadResponse(XmlReader& reader);

}  // namespace tallowin::soap

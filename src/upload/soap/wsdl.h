// Reading the inventory service's WSDL 1.1 description into a call plan: all
// the client needs to write the one request it sends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "upload/soap/xml_reader.h"

namespace tallowin::soap {

inline constexpr const char* kOperationName = "setSaveSoftwareInformation";
inline constexpr size_t kParameterCount = 5;
// The second operation a newer service offers in the same binding: the user
// name, the adapter address and the complete profile.
inline constexpr const char* kProfileOperationName = "setSaveProfileInformation";
inline constexpr size_t kProfileParameterCount = 3;
// A description larger than this is refused before it is parsed.
inline constexpr size_t kMaxWsdlBytes = size_t{4} * 1024 * 1024;

enum class SoapVersion { Soap11, Soap12 };
enum class SoapStyle { Rpc, Document };
enum class SoapUse { Literal, Encoded };

struct CallParameter {
  std::string name;          // the element's local name
  std::string namespaceUri;  // empty: unqualified
};

struct CallPlan {
  std::string endpoint;  // the port's address location: an http:// or https:// URL
  SoapVersion version = SoapVersion::Soap11;
  std::string soapAction;  // may be empty; holds no quote, backslash or control character
  SoapStyle style = SoapStyle::Document;
  SoapUse use = SoapUse::Literal;
  std::string operationName;  // as the description spells it
  // The one element inside soap:Body: for rpc the operation in the body
  // namespace; for document/literal the wrapper element the input part names.
  std::string bodyElement;
  std::string bodyNamespace;
  // For encoded use: the encoding style URI (the description's, or the SOAP
  // version's own).
  std::string encodingStyle;
  // The input's parameters in order; the five texts map to them by position.
  std::vector<CallParameter> parameters;
};

struct WsdlResult {
  std::optional<CallPlan> plan;
  std::string error;  // when there is no plan: why, one line
  // The profile's operation in the plan's binding, when the description
  // offers it; profileError says why an offered one cannot be called.
  std::optional<CallPlan> profilePlan;
  std::string profileError;
  bool ok() const { return plan.has_value(); }
};

// Reads the whole document from `reader`. Only this one document is read:
// wsdl:import and xsd:import/include with a location are not followed, schemas
// inside wsdl:types are.
WsdlResult ReadWsdl(XmlReader& reader);

}  // namespace tallowin::soap

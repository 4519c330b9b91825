// The namespaces of WSDL 1.1, its SOAP bindings, SOAP envelopes and encodings
// and XML Schema: the description is read in them and the request written in them.
#pragma once

#include <string_view>

namespace tallowin::soap {

inline constexpr std::string_view kWsdlNs = "http://schemas.xmlsoap.org/wsdl/";
inline constexpr std::string_view kSoap11BindingNs = "http://schemas.xmlsoap.org/wsdl/soap/";
inline constexpr std::string_view kSoap12BindingNs = "http://schemas.xmlsoap.org/wsdl/soap12/";
inline constexpr std::string_view kSoap11EnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kSoap12EnvelopeNs = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kSoap11EncodingNs = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr std::string_view kSoap12EncodingNs = "http://www.w3.org/2003/05/soap-encoding";
inline constexpr std::string_view kXsdNs = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";

}  // namespace tallowin::soap

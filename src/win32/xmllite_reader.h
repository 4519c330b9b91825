// The SOAP client's XML reader on Windows: XmlLite over a memory stream, DTDs
// prohibited, element depth bounded.
#pragma once

#include <memory>
#include <string>

#include "upload/soap/xml_reader.h"

namespace tallowin::win32 {

// nullptr when XmlLite is missing (it is part of Windows from XP SP3 on).
std::unique_ptr<soap::XmlReader> MakeXmlLiteReader(const std::string& document);

}  // namespace tallowin::win32

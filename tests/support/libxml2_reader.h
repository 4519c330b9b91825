// The XmlReader over libxml2's xmlTextReader, for the native tests and
// fuzzers. It parses from memory only: no network, no DTD loading, no entity
// substitution; a document type declaration ends the reading as Doctype.
#pragma once

#ifdef TALLOWIN_HAVE_LIBXML2

#include <memory>
#include <string>
#include <string_view>

#include "upload/soap/xml_reader.h"

namespace tallowin::test {

class Libxml2Reader : public soap::XmlReader {
 public:
  // The document is copied; the reader does not keep a reference to `xml`.
  explicit Libxml2Reader(std::string_view xml);
  ~Libxml2Reader() override;
  Libxml2Reader(const Libxml2Reader&) = delete;
  Libxml2Reader& operator=(const Libxml2Reader&) = delete;

  soap::XmlEventType next(soap::XmlEvent& event) override;
  std::string errorText() const override { return error_; }

  struct State;

 private:
  std::string xml_;
  std::unique_ptr<State> state_;
  std::string error_;
};

}  // namespace tallowin::test

#endif  // TALLOWIN_HAVE_LIBXML2

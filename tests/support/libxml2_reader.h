// The XmlReader over a libxml2 document tree, for the native tests and
// fuzzers. It parses from memory only: no network, no DTD loading, no entity
// substitution; a document with a document type declaration reads as Doctype
// (or as Error, when libxml2 refuses its entities first).
#pragma once

#ifdef TALLOWIN_HAVE_LIBXML2

#include <string>
#include <string_view>
#include <vector>

#include "upload/soap/xml_reader.h"

namespace tallowin::test {

// Reads the whole document when made (test documents are small); next()
// hands the events out and then repeats the last.
class Libxml2Reader : public soap::XmlReader {
 public:
  explicit Libxml2Reader(std::string_view xml) { read(xml); }
  soap::XmlEventType next(soap::XmlEvent& event) override {
    event = events_[at_];
    if (at_ + 1 < events_.size()) ++at_;
    return event.type;
  }
  std::string errorText() const override { return error_; }

 private:
  void read(std::string_view xml);
  void finish(soap::XmlEventType type, std::string why = {});
  std::vector<soap::XmlEvent> events_;  // the last is Doctype, Error or EndOfDocument
  size_t at_ = 0;
  std::string error_;
};

}  // namespace tallowin::test

#endif  // TALLOWIN_HAVE_LIBXML2

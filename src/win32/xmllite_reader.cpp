#include "win32/win.h"

#include <shlwapi.h>
#include <xmllite.h>

#include <vector>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/xmllite_reader.h"

namespace tallowin::win32 {

namespace {

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateXmlReaderFn createXmlReader() {
  // MinGW has no import library for xmllite; the DLL stays loaded for the process.
  static CreateXmlReaderFn fn = [] {
    HMODULE lib = ::LoadLibraryW(L"xmllite.dll");
    return lib ? reinterpret_cast<CreateXmlReaderFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "CreateXmlReader")))
               : nullptr;
  }();
  return fn;
}

std::string text(const wchar_t* s, UINT n) { return s ? Utf8(s, n) : std::string(); }

class XmlLiteReader : public soap::XmlReader {
 public:
  bool open(const std::string& document) {
    CreateXmlReaderFn create = createXmlReader();
    if (!create) return fail("XmlLite is not available");
    const auto* bytes = reinterpret_cast<const BYTE*>(document.data());
    stream_.reset(::SHCreateMemStream(bytes, static_cast<UINT>(document.size())));
    if (!stream_) return fail("out of memory");
    if (FAILED(create(__uuidof(IXmlReader), reader_.putVoid(), nullptr)) || !reader_)
      return fail("CreateXmlReader failed");
    reader_->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader_->SetProperty(XmlReaderProperty_MaxElementDepth, 256);
    if (FAILED(reader_->SetInput(stream_.get()))) return fail("SetInput failed");
    return true;
  }

  soap::XmlEventType next(soap::XmlEvent& e) override {
    e = soap::XmlEvent{};
    if (done_) {
      e.type = final_;
      return final_;
    }
    if (pendingEnd_) {
      pendingEnd_ = false;
      e = pendingEvent_;
      return e.type;
    }
    for (;;) {
      XmlNodeType type = XmlNodeType_None;
      const HRESULT hr = reader_->Read(&type);
      if (hr == S_FALSE) return endOfInput(e);
      if (FAILED(hr)) {
        error_ = why(hr);
        return finish(e, soap::XmlEventType::Error);
      }
      UINT depth = 0;
      reader_->GetDepth(&depth);
      e.depth = static_cast<int>(depth);
      switch (type) {
        case XmlNodeType_Element: return startElement(e);
        case XmlNodeType_EndElement: return endElement(e);
        case XmlNodeType_Text:
        case XmlNodeType_CDATA:
        case XmlNodeType_Whitespace: return textNode(e);
        case XmlNodeType_DocumentType: return finish(e, soap::XmlEventType::Doctype);
        default: continue;  // declaration, comments, processing instructions
      }
    }
  }

  std::string errorText() const override { return error_; }

 private:
  soap::XmlEventType endOfInput(soap::XmlEvent& e) {
    if (!sawRoot_) {
      error_ = "not XML: no root element";
      return finish(e, soap::XmlEventType::Error);
    }
    if (!open_.empty()) {
      error_ = std::string("the document ends inside an element");
      return finish(e, soap::XmlEventType::Error);
    }
    return finish(e, soap::XmlEventType::EndOfDocument);
  }

  soap::XmlEventType startElement(soap::XmlEvent& e) {
    e.type = soap::XmlEventType::StartElement;
    sawRoot_ = true;
    names(e.prefix, e.localName, e.namespaceUri);
    const bool empty = reader_->IsEmptyElement();
    for (HRESULT a = reader_->MoveToFirstAttribute(); a == S_OK; a = reader_->MoveToNextAttribute()) {
      soap::XmlAttribute attr;
      names(attr.prefix, attr.localName, attr.namespaceUri);
      const wchar_t* v = nullptr;
      UINT n = 0;
      reader_->GetValue(&v, &n);
      attr.value = text(v, n);
      e.attributes.push_back(std::move(attr));
    }
    reader_->MoveToElement();
    if (!empty) open_.push_back(e.namespaceUri + " " + e.localName);
    if (empty) {
      // XmlLite gives no end for <a/>: the next call returns one.
      pendingEnd_ = true;
      pendingEvent_ = soap::XmlEvent{};
      pendingEvent_.type = soap::XmlEventType::EndElement;
      pendingEvent_.prefix = e.prefix;
      pendingEvent_.localName = e.localName;
      pendingEvent_.namespaceUri = e.namespaceUri;
      pendingEvent_.depth = e.depth;
    }
    return e.type;
  }

  soap::XmlEventType endElement(soap::XmlEvent& e) {
    e.type = soap::XmlEventType::EndElement;
    names(e.prefix, e.localName, e.namespaceUri);
    // Not every XmlLite checks that end tags match; this reader does.
    if (open_.empty() || open_.back() != e.namespaceUri + " " + e.localName) {
      error_ = "an end tag </" + e.localName + "> that does not match";
      return finish(e, soap::XmlEventType::Error);
    }
    open_.pop_back();
    return e.type;
  }

  soap::XmlEventType textNode(soap::XmlEvent& e) {
    e.type = soap::XmlEventType::Text;
    const wchar_t* v = nullptr;
    UINT n = 0;
    reader_->GetValue(&v, &n);
    e.text = text(v, n);
    return e.type;
  }

  bool fail(std::string why) {
    error_ = std::move(why);
    done_ = true;
    final_ = soap::XmlEventType::Error;
    return false;
  }
  soap::XmlEventType finish(soap::XmlEvent& e, soap::XmlEventType t) {
    done_ = true;
    final_ = t;
    e.type = t;
    return t;
  }
  void names(std::string& prefix, std::string& local, std::string& ns) {
    const wchar_t* s = nullptr;
    UINT n = 0;
    if (SUCCEEDED(reader_->GetPrefix(&s, &n))) prefix = text(s, n);
    if (SUCCEEDED(reader_->GetLocalName(&s, &n))) local = text(s, n);
    if (SUCCEEDED(reader_->GetNamespaceUri(&s, &n))) ns = text(s, n);
  }
  // The reasons a hostile or broken document is refused, in words; the
  // rest by their code.
  static std::string why(HRESULT hr) {
    switch (static_cast<unsigned long>(hr)) {
      case MX_E_INPUTEND: return "the document ends too early";
      case MX_E_ENCODING:
      case MX_E_ENCODINGSWITCH:
      case MX_E_ENCODINGSIGNATURE: return "the document's encoding is wrong or not supported";
      case WC_E_DTDPROHIBITED: return "a document type declaration is not allowed";
      case WC_E_UNDECLAREDENTITY: return "the document uses an undeclared entity";
      case WC_E_ELEMENTMATCH: return "an end tag does not match its start tag";
      case SC_E_MAXELEMENTDEPTH: return "the document is nested too deeply";
      case SC_E_MAXENTITYEXPANSION: return "the document's entities expand too far";
      default: return "not well-formed XML (0x" + hex(hr) + ")";
    }
  }

  static std::string hex(HRESULT hr) {
    char b[16];
    snprintf(b, sizeof(b), "%08lX", static_cast<unsigned long>(hr));
    return b;
  }

  // Declared in this order so that the reader lets go of the stream first.
  ComPtr<IStream> stream_;
  ComPtr<IXmlReader> reader_;
  bool done_ = false;
  soap::XmlEventType final_ = soap::XmlEventType::EndOfDocument;
  bool pendingEnd_ = false;
  soap::XmlEvent pendingEvent_;
  std::string error_;
  std::vector<std::string> open_;  // the elements not yet ended
  bool sawRoot_ = false;
};

}  // namespace

std::unique_ptr<soap::XmlReader> MakeXmlLiteReader(const std::string& document) {
  auto r = std::make_unique<XmlLiteReader>();
  r->open(document);  // a failure shows as an Error event with its reason
  return r;
}

}  // namespace tallowin::win32

// Random texts into the request, the request parsed back: every text
// arrives, with U+FFFD standing only where XML cannot carry a character.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdlib>

#include "platform/text.h"
#include "support/call_plan.h"
#include "support/libxml2_reader.h"
#include "upload/soap/envelope.h"
#include "upload/soap/xml_tree.h"

using namespace tallowin;

namespace {

// The characters of a text that XML can carry, with every U+FFFD left out
// (it stands for what could not be carried).
std::u32string carried(const std::string& utf8) {
  std::u32string out;
  for (size_t i = 0, length = 0; i < utf8.size(); i += length) {
    const long c = DecodeUtf8(utf8, i, length);
    if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFC) || c >= 0x10000)
      out += static_cast<char32_t>(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool rpc = in.ConsumeBool();
  const bool soap12 = in.ConsumeBool();
  std::array<std::string, 5> texts;
  for (auto& t : texts) t = in.ConsumeRandomLengthString(400);
  const std::array<std::string_view, 5> views = {texts[0], texts[1], texts[2], texts[3], texts[4]};
  const soap::SoapRequest req = soap::WriteEnvelope(test::Plan(rpc, soap12), views);

  // The five parameter elements are the children of the element inside Body.
  test::Libxml2Reader back(req.body);
  const soap::XmlTree tree = soap::ReadXmlTree(back);
  if (!tree.root || tree.root->children.size() != 1 || tree.root->children[0]->children.size() != 1) abort();
  const auto& params = tree.root->children[0]->children[0]->children;
  if (params.size() != 5) abort();
  std::array<std::string, 5> got;
  for (size_t i = 0; i < 5; ++i) got[i] = params[i]->text;
  for (size_t i = 0; i < 5; ++i)
    if (carried(got[i]) != carried(texts[i])) abort();
  return 0;
}

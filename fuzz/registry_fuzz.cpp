// GetRegValue and GetRegSubKeys over a registry made of fuzzed bytes: random
// types and sizes, texts without NULs or with odd byte counts, subkey names
// of every length. Nothing may crash, read out of bounds or leave a key open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "platform/registry.h"
#include "support/fake_platform.h"

using namespace tallowin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  test::FakePlatform p;
  const std::string key = "SOFTWARE\\Fuzz";
  p.addKey(key);
  std::vector<std::string> names;
  const int values = in.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < values; ++i) {
    std::string name = in.ConsumeRandomLengthString(64);
    const uint32_t type = in.ConsumeIntegralInRange<uint32_t>(0, 12);
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 600));
    p.setValue(key, name, type, bytes);
    names.push_back(name);
  }
  const int subKeys = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < subKeys; ++i) {
    std::string name = in.ConsumeRandomLengthString(300);
    if (name.empty() || name.find('\\') != std::string::npos) continue;
    p.addKey(key + "\\" + name);
  }
  names.push_back("missing");
  for (const std::string& n : names) {
    const RegValue a = GetRegValue(p, kHKeyLocalMachine, key, n, std::string("d"));
    const RegValue b = GetRegValue(p, kHKeyLocalMachine, key, n, int32_t{7});
    (void)RegValueText(a);
    (void)RegValueText(b);
  }
  const SubKeyList list = GetRegSubKeys(p, kHKeyLocalMachine, key);
  if (list.Count == 0 ? !list.Items.empty() : list.Items.size() != static_cast<size_t>(list.Count) + 1) abort();
  if (p.openKeys() != 0) abort();
  return 0;
}

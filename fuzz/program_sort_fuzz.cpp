// The programs section's sort over fuzzed list names: any bytes and
// lengths, duplicates, names equal but for letter case, prefixes of one
// another. The result must be the input's items rearranged, each whole,
// ascending under the case-insensitive comparison, with equal names in their
// enumeration order (so the one order the adjacent-swap passes would give), in
// O(n log n) comparisons. (How the section lists the sorted names is the
// unit tests' part.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sections/inventory/programs.h"
#include "support/fake_platform.h"

using namespace tallowin;

namespace {

[[noreturn]] void fail(const char* what, size_t at) {
  std::fprintf(stderr, "program_sort_fuzz: %s (at %zu)\n", what, at);
  std::abort();
}

std::string flipCase(FuzzedDataProvider& in, std::string name) {
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalpha(u) && in.ConsumeBool()) c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
  }
  return name;
}

std::vector<std::string> names(FuzzedDataProvider& in, size_t most) {
  std::vector<std::string> out;
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, most);
  while (out.size() < n && in.remaining_bytes() > 0) {
    const size_t pick = out.empty() ? 0 : in.ConsumeIntegralInRange<size_t>(0, out.size() - 1);
    switch (out.empty() ? 0 : in.ConsumeIntegralInRange(0, 4)) {
      case 0: out.push_back(in.ConsumeRandomLengthString(48)); break;
      case 1: out.push_back(out[pick]); break;  // the same name twice
      case 2: out.push_back(flipCase(in, out[pick])); break;
      case 3: out.push_back(out[pick] + in.ConsumeRandomLengthString(3)); break;
      default: out.push_back(out[pick].substr(0, in.ConsumeIntegralInRange<size_t>(0, out[pick].size()))); break;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  test::FakePlatform p;
  const std::vector<std::string> listNames = names(in, 400);
  std::vector<SubKeyItem> input;
  for (size_t i = 0; i < listNames.size(); ++i) {
    SubKeyItem item;
    item.Name = std::to_string(i);  // where it was enumerated
    item.ListName = listNames[i];
    item.View = in.ConsumeBool() ? RegView::Bits64 : RegView::Bits32;
    input.push_back(item);
  }
  std::vector<SubKeyItem> sorted = input;
  p.comparisons = 0;
  SortProgramEntries(p, sorted);
  const int comparisons = p.comparisons;

  if (sorted.size() != input.size()) fail("the sort changed the number of items", sorted.size());
  std::vector<bool> seen(input.size(), false);
  for (size_t k = 0; k < sorted.size(); ++k) {
    const size_t from = std::stoul(sorted[k].Name);
    if (from >= input.size() || seen[from]) fail("not a permutation of the input", k);
    seen[from] = true;
    if (sorted[k].ListName != input[from].ListName || sorted[k].View != input[from].View)
      fail("an item was not moved whole", k);
    if (k == 0) continue;
    if (ListNameBefore(p, sorted[k], sorted[k - 1])) fail("not ascending", k);
    if (!ListNameBefore(p, sorted[k - 1], sorted[k]) && std::stoul(sorted[k - 1].Name) > from)
      fail("equal names out of their enumeration order", k);
  }
  // A pass-based sort would ask about n*n/2 times; a merge sort about n log n.
  const double n = static_cast<double>(input.size());
  if (n > 1 && comparisons > 3 * n * std::ceil(std::log2(n)) + n) fail("too many comparisons", input.size());
  return 0;
}

// The programs section's sort over fuzzed list names: any bytes and
// lengths, duplicates, names equal but for letter case, prefixes of one
// another. The result must be the input's items rearranged, each whole,
// ascending under the case-insensitive comparison, with equal names in their
// enumeration order, as the adjacent-swap passes would leave them, and in
// O(n log n) comparisons. Then the same names through the uninstall key:
// item 0 of the subkey list stays empty and the section lists every entry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/profile_control.h"
#include "sections/inventory/programs.h"
#include "sections/sections.h"
#include "support/fake_platform.h"

using namespace tallowin;

namespace {

[[noreturn]] void fail(const char* what, size_t at) {
  std::fprintf(stderr, "program_sort_fuzz: %s (at %zu)\n", what, at);
  std::abort();
}

std::string flipCase(FuzzedDataProvider& in, std::string name) {
  for (char& c : name)
    if (std::isalpha(static_cast<unsigned char>(c)) && in.ConsumeBool())
      c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(static_cast<unsigned char>(c))
                                                                          : std::toupper(static_cast<unsigned char>(c)));
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

// The sort as the section describes it: adjacent swaps until a pass makes none.
void referenceSort(Platform& p, std::vector<SubKeyItem>& items) {
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (size_t j = 1; j < items.size(); ++j) {
      if (ListNameBefore(p, items[j], items[j - 1])) {
        std::swap(items[j], items[j - 1]);
        swapped = true;
      }
    }
  }
}

void checkSort(test::FakePlatform& p, const std::vector<std::string>& listNames, FuzzedDataProvider& in) {
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
  if (input.size() <= 80) {
    std::vector<SubKeyItem> reference = input;
    referenceSort(p, reference);
    for (size_t k = 0; k < reference.size(); ++k)
      if (reference[k].Name != sorted[k].Name) fail("differs from the adjacent-swap order", k);
  }
}

// The names as display names of uninstall entries, half of them in each view.
void checkSection(const std::vector<std::string>& displayNames) {
  test::FakePlatform p;
  for (size_t i = 0; i < displayNames.size(); ++i) {
    const RegView view = i % 2 ? RegView::Bits32 : RegView::Bits64;
    const std::string path = std::string(kUninstallPath) + "\\k" + std::to_string(i);
    p.addKey(path, view);
    p.setString(path, "DisplayName", displayNames[i], view);
  }
  for (RegView view : {RegView::Bits64, RegView::Bits32}) {
    const SubKeyList keys = GetRegSubKeys(p, kHKeyLocalMachine, kUninstallPath, view);
    if (keys.Count > 0 && (!keys.Items[0].Name.empty() || !keys.Items[0].ListName.empty()))
      fail("item 0 of the subkey list is not empty", 0);
  }
  std::vector<SubKeyItem> entries = ReadProgramEntries(p);
  if (entries.size() != displayNames.size()) fail("an entry went missing", entries.size());
  SortProgramEntries(p, entries);

  ProfileControl control(p);
  CollectPrograms(control);
  const auto& lines = control.list().lines();
  if (entries.empty() ? !lines.empty() : lines.size() != 2 * entries.size() - 1) fail("wrong number of lines", lines.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    const bool name = k % 2 == 0;
    if (name ? lines[k].text != entries[k / 2].ListName || lines[k].itemValue != 500
             : !lines[k].text.empty() || lines[k].itemValue != 0)
      fail("a line out of place", k);
  }
  if (p.openKeys() != 0) fail("a key left open", static_cast<size_t>(p.openKeys()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  test::FakePlatform p;
  const bool throughRegistry = in.ConsumeBool();
  const std::vector<std::string> listNames = names(in, throughRegistry ? 40 : 400);
  checkSort(p, listNames, in);
  if (throughRegistry) checkSection(listNames);
  return 0;
}

// The installed-programs section: one line per entry of the uninstall key,
// by its display name, sorted, with an empty line between neighbours.
#include "sections/inventory/programs.h"

#include <algorithm>
#include <initializer_list>

#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr int32_t kNameValue = 500;

}  // namespace

std::string ProgramListName(Platform& platform, const SubKeyItem& entry) {
  const std::string path = std::string(kUninstallPath) + "\\" + entry.Name;
  for (const char* value : {"DisplayName", "QuietDisplayName"}) {
    std::string name = RegValueText(GetRegValue(platform, kHKeyLocalMachine, path, value, std::string(), entry.View));
    if (IsPresent(name)) return name;
  }
  return entry.Name;
}

std::vector<SubKeyItem> ReadProgramEntries(Platform& platform) {
  // A process sees only its own bitness's copy of the key unless it asks for
  // a view; on 32-bit Windows there is only the one.
  std::vector<RegView> views;
  if (platform.Is64BitWindows())
    views = {RegView::Bits64, RegView::Bits32};
  else
    views = {RegView::Native};

  std::vector<SubKeyItem> entries;
  for (RegView view : views) {
    SubKeyList keys = GetRegSubKeys(platform, kHKeyLocalMachine, kUninstallPath, view);
    for (int32_t i = 1; i <= keys.Count; ++i) entries.push_back(std::move(keys.Items[static_cast<size_t>(i)]));
  }
  for (SubKeyItem& entry : entries) entry.ListName = ProgramListName(platform, entry);
  return entries;
}

bool ListNameBefore(Platform& platform, const SubKeyItem& a, const SubKeyItem& b) {
  return platform.CompareStringEx(Platform::kNormIgnoreCase, a.ListName, b.ListName) == Platform::kCstrLessThan;
}

void SortProgramEntries(Platform& platform, std::vector<SubKeyItem>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [&platform](const SubKeyItem& a, const SubKeyItem& b) { return ListNameBefore(platform, a, b); });
}

void CollectPrograms(SectionContext& ctx) {
  std::vector<SubKeyItem> entries = ReadProgramEntries(ctx.platform());
  SortProgramEntries(ctx.platform(), entries);
  ReportList& list = ctx.list();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) list.append("", 0);
    list.append(entries[i].ListName, kNameValue);
    ctx.yield();
  }
}

}  // namespace tallowin

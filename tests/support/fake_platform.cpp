#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace tallowin::test {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string normalise(const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return lower(p);
}

}  // namespace

std::map<std::string, FakePlatform::Key>& FakePlatform::tree(RegView view, uint32_t root) {
  const int v = (view == RegView::Bits32 && is64BitWindows) ? 1 : 0;
  return trees_[v][root & 3];
}

FakePlatform::Key& FakePlatform::addKey(const std::string& path, RegView view, uint32_t root) {
  auto& t = tree(view, root);
  std::string norm = normalise(path);
  if (t.find("") == t.end()) t[""];
  // Create the parents first, recording each child under its parent.
  std::string original = path;
  while (!original.empty() && original.back() == '\\') original.pop_back();
  size_t pos = 0;
  std::string parent;
  while (pos <= original.size() && !original.empty()) {
    size_t next = original.find('\\', pos);
    if (next == std::string::npos) next = original.size();
    const std::string part = original.substr(pos, next - pos);
    const std::string here = parent.empty() ? part : parent + "\\" + part;
    if (t.find(lower(here)) == t.end()) {
      t[lower(here)];
      t[lower(parent)].subKeys.push_back(part);
    }
    parent = here;
    pos = next + 1;
  }
  return t[norm];
}

void FakePlatform::setValue(const std::string& path, const std::string& name, uint32_t type,
                            std::vector<uint8_t> bytes, RegView view, uint32_t root) {
  Key& k = addKey(path, view, root);
  for (auto& [n, v] : k.values) {
    if (lower(n) == lower(name)) {
      v = {type, std::move(bytes)};
      return;
    }
  }
  k.values.push_back({name, {type, std::move(bytes)}});
}

std::vector<uint8_t> FakePlatform::Utf16Bytes(const std::string& utf8, bool withNul) {
  std::u16string w = Utf8ToUtf16(utf8);
  if (withNul) w += u'\0';
  std::vector<uint8_t> b;
  for (char16_t c : w) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

void FakePlatform::setString(const std::string& path, const std::string& name, const std::string& utf8,
                             RegView view, uint32_t type) {
  setValue(path, name, type, Utf16Bytes(utf8), view);
}

void FakePlatform::setDword(const std::string& path, const std::string& name, uint32_t value, RegView view) {
  setValue(path, name, kRegDword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)},
           view);
}

int32_t FakePlatform::RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t, RegView view,
                                   RegHandle* key) {
  auto& t = tree(view, root);
  const std::string norm = normalise(path);
  if (t.find(norm) == t.end()) return kErrorFileNotFound;
  *key = nextHandle_++;
  open_[*key] = {&t, norm};
  ++openKeys_;
  return kErrorSuccess;
}

int32_t FakePlatform::RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type,
                                      std::vector<uint8_t>* data, uint32_t* size) {
  auto it = open_.find(key);
  if (it == open_.end()) return 6;  // ERROR_INVALID_HANDLE
  const Key& k = (*it->second.tree)[it->second.path];
  for (const auto& [n, v] : k.values) {
    if (lower(n) != lower(name)) continue;
    if (type) *type = v.type;
    const auto actual = static_cast<uint32_t>(v.bytes.size());
    if (!data) {
      if (size) *size = actual;
      return kErrorSuccess;
    }
    if (!size || *size < actual) {
      if (size) *size = actual;
      return kErrorMoreData;
    }
    *data = v.bytes;
    *size = actual;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

int32_t FakePlatform::RegQueryInfoKey(RegHandle key, uint32_t* subKeys) {
  auto it = open_.find(key);
  if (it == open_.end()) return 6;
  *subKeys = static_cast<uint32_t>((*it->second.tree)[it->second.path].subKeys.size());
  return kErrorSuccess;
}

int32_t FakePlatform::RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) {
  auto it = open_.find(key);
  if (it == open_.end()) return 6;
  const Key& k = (*it->second.tree)[it->second.path];
  if (index >= k.subKeys.size()) return kErrorNoMoreItems;
  *name = k.subKeys[index];
  return kErrorSuccess;
}

void FakePlatform::RegCloseKey(RegHandle key) {
  if (open_.erase(key)) --openKeys_;
}

bool FakePlatform::ApiExists(const std::string& library, const std::string& function) {
  return exports.count(lower(library) + "!" + function) > 0;
}

}  // namespace tallowin::test

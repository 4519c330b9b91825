#include "platform/registry.h"

#include "platform/text.h"

namespace tallowin {

RegKey::RegKey(Platform& platform, uint32_t root, const std::string& path, uint32_t access, RegView view)
    : platform_(platform) {
  RegHandle h = 0;
  if (platform_.RegOpenKeyEx(root, path, access, view, &h) == kErrorSuccess) handle_ = h;
}

RegKey::~RegKey() {
  if (handle_ != 0) platform_.RegCloseKey(handle_);
}

std::string RegValueText(const RegValue& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return std::to_string(std::get<int32_t>(value));
}

RegValue GetRegValue(Platform& platform, uint32_t root, const std::string& path,
                     const std::string& name, const RegValue& defaultValue, RegView view) {
  RegKey key(platform, root, path, kKeyQueryValue, view);
  if (!key) return defaultValue;

  uint32_t type = 0;
  uint32_t size = 0;
  if (platform.RegQueryValueEx(key.get(), name, &type, nullptr, &size) != kErrorSuccess) return defaultValue;

  std::vector<uint8_t> data;
  switch (type) {
    case kRegSz:
    case kRegExpandSz: {
      if (platform.RegQueryValueEx(key.get(), name, &type, &data, &size) != kErrorSuccess) return defaultValue;
      std::u16string text = Utf16FromBytes(data.data(), data.size());
      // Blanks after the text's NUL are padding; a stored text without its NUL
      // is taken whole.
      while (!text.empty() && text.back() == u' ') text.pop_back();
      const size_t nul = text.find(u'\0');
      if (nul != std::u16string::npos) text.resize(nul);
      return Utf16ToUtf8(text);
    }
    case kRegDword: {
      uint32_t four = 4;
      if (platform.RegQueryValueEx(key.get(), name, &type, &data, &four) != kErrorSuccess) return defaultValue;
      uint32_t v = 0;
      for (size_t i = 0; i < data.size() && i < 4; ++i) v |= static_cast<uint32_t>(data[i]) << (8 * i);
      return static_cast<int32_t>(v);
    }
    case kRegMultiSz: {
      if (platform.RegQueryValueEx(key.get(), name, &type, &data, &size) != kErrorSuccess) return defaultValue;
      return Utf16ToUtf8(Utf16FromBytes(data.data(), data.size()));
    }
    default:
      return defaultValue;
  }
}

SubKeyList GetRegSubKeys(Platform& platform, uint32_t root, const std::string& path, RegView view) {
  SubKeyList list;
  RegKey key(platform, root, path, kKeyRead, view);
  if (!key) return list;
  uint32_t count = 0;
  if (platform.RegQueryInfoKey(key.get(), &count) != kErrorSuccess) return list;
  if (count == 0 || count > 0x7FFFFFFFu) return list;
  list.Count = static_cast<int32_t>(count);
  list.Items.resize(static_cast<size_t>(count) + 1);
  for (uint32_t i = 1; i <= count; ++i) {
    SubKeyItem& item = list.Items[i];
    item.View = view;
    std::string name;
    // A subkey that vanished meanwhile leaves its item's name empty.
    if (platform.RegEnumKeyEx(key.get(), i - 1, &name) == kErrorSuccess) {
      const size_t nul = name.find('\0');
      item.Name = nul == std::string::npos ? name : name.substr(0, nul);
    }
  }
  return list;
}

}  // namespace tallowin

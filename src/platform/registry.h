// Registry helpers every section shares. They never fail towards the caller:
// what cannot be read gives back the caller's default.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace tallowin {

// A text, a 32-bit signed number, or (when nothing could be read) the default.
using RegValue = std::variant<std::string, int32_t>;

// The value as text: a number in decimal.
std::string RegValueText(const RegValue& value);

RegValue GetRegValue(Platform& platform, uint32_t root, const std::string& path,
                     const std::string& name, const RegValue& defaultValue,
                     RegView view = RegView::Native);

struct SubKeyItem {
  std::string Name;
  std::string ListName;  // left empty here; filled by the caller
  RegView View = RegView::Native;  // the view the name was read in
};

struct SubKeyList {
  int32_t Count = 0;
  // Items[0] stays empty; Items[1..Count] in enumeration order.
  std::vector<SubKeyItem> Items;
};

SubKeyList GetRegSubKeys(Platform& platform, uint32_t root, const std::string& path,
                         RegView view = RegView::Native);

inline bool ApiExists(Platform& platform, const std::string& library, const std::string& function) {
  return platform.ApiExists(library, function);
}

// An open key that is closed on every path out of the scope that opened it.
class RegKey {
 public:
  RegKey(Platform& platform, uint32_t root, const std::string& path, uint32_t access, RegView view);
  ~RegKey();
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  explicit operator bool() const { return handle_ != 0; }
  RegHandle get() const { return handle_; }

 private:
  Platform& platform_;
  RegHandle handle_ = 0;
};

}  // namespace tallowin

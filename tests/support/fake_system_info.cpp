#include <cctype>

#include "support/fake_platform.h"

namespace tallowin::test {

bool FakePlatform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
  if (memoryStatusFails) return false;
  *status = memoryStatus;
  return true;
}

int32_t FakePlatform::GetKeyboardType(int32_t typeFlag) {
  keyboardTypeAsked.push_back(typeFlag);
  return typeFlag >= 0 && typeFlag <= 2 ? keyboardType[typeFlag] : 0;
}

int32_t FakePlatform::CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) {
  ++comparisons;
  const bool fold = (flags & kNormIgnoreCase) != 0;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(a[i]);
    int y = static_cast<unsigned char>(b[i]);
    if (fold) {
      x = std::tolower(x);
      y = std::tolower(y);
    }
    if (x != y) return x < y ? kCstrLessThan : kCstrGreaterThan;
  }
  if (a.size() == b.size()) return kCstrEqual;
  return a.size() < b.size() ? kCstrLessThan : kCstrGreaterThan;
}

}  // namespace tallowin::test

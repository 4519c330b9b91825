// The fake's metrics, processor, memory, keyboard, display, power and ports.
#include "support/fake_platform.h"

namespace tallowin::test {

int32_t FakePlatform::GetSystemMetrics(int32_t index) {
  auto it = metrics.find(index);
  return it == metrics.end() ? 0 : it->second;
}

bool FakePlatform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
  if (memoryStatusFails) return false;
  *status = memoryStatus;
  return true;
}

int32_t FakePlatform::GetKeyboardType(int32_t typeFlag) {
  keyboardTypeAsked.push_back(typeFlag);
  return typeFlag >= 0 && typeFlag <= 2 ? keyboardType[typeFlag] : 0;
}

}  // namespace tallowin::test

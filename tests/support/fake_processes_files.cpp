// The fake's message table, program start and file sizes.
#include <cctype>

#include "support/fake_platform.h"

namespace tallowin::test {

namespace {

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string FakePlatform::FormatMessage(int32_t code) {
  auto it = messages.find(code);
  return it == messages.end() ? std::string() : it->second;
}

bool FakePlatform::CreateProcess(const std::string& commandLine) {
  startAttempts.push_back(commandLine);
  return startable.count(commandLine) > 0;
}

int64_t FakePlatform::GetFileSize(const std::string& path) {
  for (const auto& [p, size] : fileSizes)
    if (lowerCase(p) == lowerCase(path)) return size;
  return -1;
}

}  // namespace tallowin::test

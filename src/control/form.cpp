#include "control/form.h"

#include <cstring>

#include "platform/text.h"

namespace tallowin::form {

const std::vector<Tab>& Tabs() {
  static const std::vector<Tab> tabs = {
      {"&OS", "OS", "OS", "Operating System"},
      {"Programs", "Progs", "Progs", "Installed Programs"},
      {"&CPU", "CPU", "CPU", "Central Processing Unit (CPU)"},
      {"&Memory", "Memory", "Memory", "Memory/RAM"},
      {"&Network", "Network", "Network", "Network and Interfaces"},
      {"&UI", "UI", "UI", "User Interface"},
      {"&Printers", "Printers", "Printers", "Printers"},
  };
  return tabs;
}

char AccessKey(const char* caption) {
  for (const char* p = caption ? std::strchr(caption, '&') : nullptr; p && p[1]; p = std::strchr(p + 2, '&')) {
    if (p[1] != '&') return UpperAscii(p[1]);  // "&&" is a literal ampersand
  }
  return 0;
}

int TabOfAccessKey(char letter) {
  const auto& tabs = Tabs();
  for (size_t i = 0; i < tabs.size(); ++i)
    if (letter != 0 && AccessKey(tabs[i].caption) == UpperAscii(letter)) return static_cast<int>(i);
  return -1;
}

int TabOfTag(std::string_view tag) {
  const auto& tabs = Tabs();
  for (size_t i = 0; i < tabs.size(); ++i)
    if (EqualsIgnoringAsciiCase(tabs[i].tag, tag)) return static_cast<int>(i);
  return -1;
}

}  // namespace tallowin::form

// The form of the control: its captions, tooltips, the seven tabs and the
// positions of the controls in twips. The window in src/win32/ lays itself
// out from these; nothing a user reads is decided there.
#pragma once

#include <string_view>
#include <vector>

namespace tallowin::form {

struct Twips {
  int left, top, width, height;
};

inline constexpr Twips kLabel1{240, 0, 3615, 495};
inline constexpr Twips kCommand1{1080, 480, 1215, 495};
inline constexpr Twips kTabProfile{840, 1080, 8535, 4935};
inline constexpr Twips kLstInfo{960, 1920, 5415, 3765};
inline constexpr Twips kTxtDesc{6600, 1920, 2535, 3735};
inline constexpr Twips kBtnAbout{3120, 6240, 1095, 375};
// The whole form: the tab strip's right edge and the About button's bottom,
// with a margin.
inline constexpr int kWidth = 840 + 8535 + 240;
inline constexpr int kHeight = 6240 + 375 + 120;

inline constexpr const char* kLabel1Caption = "System Info are updated to a Domino Database";
inline constexpr const char* kCommand1Caption = "Software Inventory ";
inline constexpr const char* kBtnAboutCaption = "&About ...";
inline constexpr const char* kBtnAboutTooltip = "Tell me more about this program.";

struct Tab {
  const char* caption;
  const char* key;
  const char* tag;  // what the dispatch reads
  const char* tooltip;
};
const std::vector<Tab>& Tabs();

// The letter an ampersand marks in a caption, in upper case; 0 when none.
char AccessKey(const char* caption);
// The tab whose caption marks that letter (any case), or -1.
int TabOfAccessKey(char letter);
// The tab whose tag is tag (any case), or -1.
int TabOfTag(std::string_view tag);

}  // namespace tallowin::form

// Where the upload finds its enrollment secret: Group Policy, then what the
// package installed. Not the environment: a secret is the company's, not one
// user's.
#include "win32/win.h"

#include "platform/registry.h"
#include "platform/text.h"
#include "win32/upload_binding.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

SecretChoice ResolveSecret() {
  static const struct {
    const char* path;
    RegView view;
    const char* name;
  } kPlaces[] = {
      {"SOFTWARE\\Policies\\Tallowin", RegView::Bits64, "HKLM\\SOFTWARE\\Policies\\Tallowin\\EnrollmentSecret"},
      {"SOFTWARE\\Policies\\Tallowin", RegView::Bits32,
       "HKLM\\SOFTWARE\\Policies\\Tallowin\\EnrollmentSecret (32-bit view)"},
      {"SOFTWARE\\Tallowin", RegView::Bits64, "HKLM\\SOFTWARE\\Tallowin\\EnrollmentSecret"},
      {"SOFTWARE\\Tallowin", RegView::Bits32, "HKLM\\SOFTWARE\\Tallowin\\EnrollmentSecret (32-bit view)"},
  };
  for (const auto& place : kPlaces) {
    // Blanks around it are a copy-and-paste's, not the secret's.
    std::string text = Trim(RegValueText(
        GetRegValue(SystemPlatform(), kHKeyLocalMachine, place.path, "EnrollmentSecret", std::string(), place.view)), " \t\r\n");
    if (!text.empty()) return {std::move(text), place.name};
  }
  return {};
}

}  // namespace tallowin::win32

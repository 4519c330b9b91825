// What registering tallowin.ocx writes, as data. Portable on purpose (no
// Windows header): the ocx writes these entries itself (registration.cpp),
// and the Windows Installer packages are generated from the same table on the
// build machine (packaging/registry_wxs.cpp), so the two cannot drift apart.
#pragma once

#include <string>
#include <vector>

namespace tallowin::win32 {

inline constexpr wchar_t kClsidText[] = L"{E8C1EAF5-C6D0-4617-BEF9-CED5CAA6371D}";
inline constexpr wchar_t kIidFrmMainText[] = L"{F3C9B728-0363-412D-8790-2B474CD9EE63}";
inline constexpr wchar_t kLibidText[] = L"{D89EF8D1-621C-4D8B-8B4C-40154DF9F74D}";
inline constexpr wchar_t kProgId[] = L"Tallowin.frmMain";
inline constexpr wchar_t kProgIdVersioned[] = L"Tallowin.frmMain.1";
inline constexpr int kTypeLibMajorVersion = 1;
inline constexpr int kTypeLibMinorVersion = 0;
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE
// | SETCLIENTSITEFIRST (tallowin_ids.h checks the sum against the flags).
inline constexpr unsigned long kMiscStatusValue = 131473;
// The ToolboxBitmap32 bitmap's resource id in tallowin.ocx.
inline constexpr int kToolboxBitmapId = 1;

// Which build: the type library is registered per platform (win32, win64)
// under one shared TypeLib key.
enum class ModuleBits { Bits32, Bits64 };

// One value to write, relative to a Classes key; a key of its own when
// hasValue is false.
struct RegistryEntry {
  std::wstring key;
  bool hasValue = true;
  std::wstring name;  // "" is the key's default value
  std::wstring data;  // always REG_SZ
};

// Everything registration writes for the module at modulePath, whose folder
// (with its closing backslash, as Windows Installer writes folders) is folder.
std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath, const std::wstring& folder,
                                               ModuleBits bits);

// For unregistration. On 64-bit Windows each registry view has its own
// CLSID and Interface keys, while ProgIDs and TypeLib are one for both views:
// a build owns the first and its own platform key of the type library, and
// shares the rest with the other build.
std::vector<std::wstring> OwnRegistrationRoots();
std::wstring OwnTypeLibPlatformKey(ModuleBits bits);  // TypeLib\{LIBID}\1.0\0\win64
std::wstring TypeLibLanguageKey();                    // TypeLib\{LIBID}\1.0\0
std::wstring TypeLibHelpDirKey();                     // TypeLib\{LIBID}\1.0\HELPDIR
std::vector<std::wstring> SharedRegistrationRoots();
// The key whose presence says a build is registered in a view.
std::wstring ServerKey();  // CLSID\{CLSID}\InprocServer32

}  // namespace tallowin::win32

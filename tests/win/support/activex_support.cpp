#include "win/support/activex_support.h"

#include "win32/frm_main.h"

namespace tallowin::wintest {

std::wstring OcxPath() { return ProgramFolder() + L"tallowin.ocx"; }

std::wstring Upper(std::wstring s) {
  if (!s.empty()) ::CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

RunResult Regsvr32(const std::wstring& switches) {
  return RunProgram(L"regsvr32.exe " + switches + L" \"" + OcxPath() + L"\"", 60000);
}

namespace {

// atl.dll's AtlAxWin class, registered once per process.
bool InitAtlAxWin() {
  static const auto init = reinterpret_cast<BOOL(WINAPI*)()>(
      reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"atl.dll"), "AtlAxWinInit")));
  static const bool ok = init && init();
  return ok;
}

}  // namespace

AxWinHost::AxWinHost(const wchar_t* progId) {
  if (!InitAtlAxWin() || !(top_ = CreateHiddenHost())) return;
  ax_ = ::CreateWindowExW(0, L"AtlAxWin", progId, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 640, 480, top_,
                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
  // The container reports success even when the control failed: look.
  if (ax_) form_ = ::FindWindowExW(ax_, nullptr, win32::FrmMain::ClassName(), nullptr);
}

AxWinHost::~AxWinHost() {
  if (ax_ && ::IsWindow(ax_)) ::DestroyWindow(ax_);
  if (top_) ::DestroyWindow(top_);
  PumpMessages();
}

namespace {

// "type:text" for a string, else "type:" and the bytes, each as one character.
std::wstring valueText(DWORD type, const std::vector<BYTE>& data) {
  std::wstring out = std::to_wstring(type) + L":";
  if (type != REG_SZ && type != REG_EXPAND_SZ) return out + std::wstring(data.begin(), data.end());
  std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  while (!s.empty() && s.back() == L'\0') s.pop_back();
  return out + s;
}

void snapshotKey(HKEY key, const std::wstring& path, RegSnapshot& out) {
  out[path + L"\\"] = L"";
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<wchar_t> name(maxName + 2);
  std::vector<BYTE> data(maxData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    DWORD dataLen = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (::RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen) != ERROR_SUCCESS)
      continue;
    out[path + L"\\:" + Upper(std::wstring(name.data(), nameLen))] =
        valueText(type, std::vector<BYTE>(data.begin(), data.begin() + dataLen));
  }
  std::vector<wchar_t> sub(maxSub + 2);
  for (DWORD i = 0; i < subKeys; ++i) {
    DWORD len = static_cast<DWORD>(sub.size());
    if (::RegEnumKeyExW(key, i, sub.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    const std::wstring child = Upper(std::wstring(sub.data(), len));
    // The 32-bit view, where the keys shared by both views show again.
    if (path.empty() && child == L"WOW6432NODE") continue;
    HKEY k = nullptr;
    if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
    snapshotKey(k, path.empty() ? child : path + L"\\" + child, out);
    ::RegCloseKey(k);
  }
}

}  // namespace

RegSnapshot SnapshotTree(HKEY root, const std::wstring& path) {
  RegSnapshot out;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  snapshotKey(key, L"", out);
  ::RegCloseKey(key);
  return out;
}

RegDiff Diff(const RegSnapshot& before, const RegSnapshot& after) {
  RegDiff d;
  for (const auto& [k, v] : after)
    if (!before.count(k)) d.added[k] = v;
  for (const auto& [k, v] : before)
    if (auto it = after.find(k); it == after.end() || it->second != v) d.removedOrChanged[k] = v;
  return d;
}

}  // namespace tallowin::wintest

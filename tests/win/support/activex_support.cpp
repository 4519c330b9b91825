#include "win/support/activex_support.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"

namespace tallowin::wintest {

std::wstring OcxPath() { return ProgramFolder() + L"tallowin.ocx"; }

RunResult Regsvr32(const std::wstring& switches) {
  return RunProgram(L"regsvr32.exe " + switches + L" \"" + OcxPath() + L"\"", 60000);
}

namespace {

using win32::ComPtr;
using win32::kClsidFrmMain;
using win32::kIidFrmMain;
using win32::kLibidTallowin;

std::wstring text(BSTR b) { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }

}  // namespace

void ExpectTypeInfo(IUnknown* object) {
  auto name = [](auto* info, MEMBERID id) {
    BSTR b = nullptr;
    info->GetDocumentation(id, &b, nullptr, nullptr, nullptr);
    const std::wstring out = text(b);
    ::SysFreeString(b);
    return out;
  };
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  EXPECT_EQ(name(info.get(), MEMBERID_NIL), L"_frmMain");
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kIidFrmMain && attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL));
  info->ReleaseTypeAttr(attr);
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
  EXPECT_TRUE(libAttr->guid == kLibidTallowin && libAttr->wMajorVerNum == 1 && libAttr->wMinorVerNum == 0);
  lib->ReleaseTLibAttr(libAttr);
  EXPECT_EQ(name(lib.get(), -1), L"Tallowin");
  // No members: every name is unknown.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Refresh")};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo2, classInfo.putVoid()), S_OK);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.put()), S_OK);
  EXPECT_EQ(name(coclass.get(), MEMBERID_NIL), L"frmMain");
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kClsidFrmMain && (attr->wTypeFlags & TYPEFLAG_FCONTROL) && attr->cImplTypes == 1);
  coclass->ReleaseTypeAttr(attr);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE), IMPLTYPEFLAG_FDEFAULT);
  GUID source = kClsidFrmMain;
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL) << "no events";
}

bool InitAtlAxWin() {
  static const bool ok = [] {
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    if (!atl) return false;
    using Fn = BOOL(WINAPI*)();
    auto init = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(atl, "AtlAxWinInit")));
    return init && init();
  }();
  return ok;
}

AxWinHost::AxWinHost(const wchar_t* progId, int width, int height, HWND parent) {
  if (!InitAtlAxWin()) return;
  if (!parent) {
    top_ = CreateHiddenHost(width + 40, height + 60);
    parent = top_;
  }
  if (!parent) return;
  ax_ = ::CreateWindowExW(0, L"AtlAxWin", progId, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height,
                          parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  // The container reports success even when the control failed: look.
  if (ax_) form_ = ::FindWindowExW(ax_, nullptr, win32::FrmMain::ClassName(), nullptr);
}

AxWinHost::~AxWinHost() {
  if (ax_ && ::IsWindow(ax_)) ::DestroyWindow(ax_);
  if (top_) ::DestroyWindow(top_);
  PumpMessages();
}

HWND AxWinHost::list() const { return form_ ? ::GetDlgItem(form_, win32::kIdLstInfo) : nullptr; }

namespace {

std::wstring valueText(DWORD type, const std::vector<BYTE>& data) {
  wchar_t head[32];
  std::swprintf(head, 32, L"%lu:", static_cast<unsigned long>(type));
  std::wstring out = head;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return out + s;
  }
  for (BYTE b : data) {
    wchar_t hex[4];
    std::swprintf(hex, 4, L"%02x", b);
    out += hex;
  }
  return out;
}

// Key and value names are case-insensitive: the snapshot holds them upper-cased.
std::wstring upper(std::wstring s) {
  if (!s.empty()) ::CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
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
    out[path + L"\\:" + upper(std::wstring(name.data(), nameLen))] =
        valueText(type, std::vector<BYTE>(data.begin(), data.begin() + dataLen));
  }
  std::vector<wchar_t> sub(maxSub + 2);
  for (DWORD i = 0; i < subKeys; ++i) {
    DWORD len = static_cast<DWORD>(sub.size());
    if (::RegEnumKeyExW(key, i, sub.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    const std::wstring child = upper(std::wstring(sub.data(), len));
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
  for (const auto& [k, v] : after) {
    auto it = before.find(k);
    if (it == before.end()) d.added[k] = v;
  }
  for (const auto& [k, v] : before) {
    auto it = after.find(k);
    if (it == after.end() || it->second != v) d.removedOrChanged[k] = v;
  }
  return d;
}

std::string Describe(const RegSnapshot& s) {
  std::string out;
  for (const auto& [k, v] : s) out += "  " + Utf8(k) + " = " + Utf8(v) + "\n";
  return out;
}

namespace {

// The GDI handle table that Windows and Wine map into every process (the
// PEB's GdiSharedHandleTable): 24-byte entries whose upper word makes the
// handle; GetObjectType confirms each one.
long countGdiObjects() {
#ifdef _WIN64
  const size_t tableOffset = 0xF8;
#else
  const size_t tableOffset = 0x94;
#endif
  // The PEB's address from ntdll's process information (class 0).
  struct BasicInformation {
    LONG_PTR exitStatus;
    void* pebBaseAddress;
    ULONG_PTR affinityMask, basePriority, processId, parentProcessId;
  } info{};
  using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (!query || query(::GetCurrentProcess(), 0, &info, sizeof(info), nullptr) != 0 || !info.pebBaseAddress) return 0;
  const uintptr_t peb = reinterpret_cast<uintptr_t>(info.pebBaseAddress);
  struct Entry {
    uint64_t object;
    uint16_t processId;
    uint16_t count;
    uint16_t upper;
    uint8_t type;
    uint8_t flags;
    uint64_t user;
  };
  static_assert(sizeof(Entry) == 24);
  const Entry* table = nullptr;
  ::memcpy(&table, reinterpret_cast<const void*>(peb + tableOffset), sizeof(table));
  if (!table) return 0;
  long n = 0;
  for (uint32_t i = 0; i < 0x10000; ++i) {
    if (!table[i].type) continue;
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(i | (static_cast<uint32_t>(table[i].upper) << 16)));
    if (::GetObjectType(h)) ++n;
  }
  return n;
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
  ++*reinterpret_cast<long*>(count);
  return TRUE;
}

BOOL CALLBACK countTop(HWND hwnd, LPARAM count) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid != ::GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<long*>(count);
  ::EnumChildWindows(hwnd, countChild, count);
  return TRUE;
}

long countWindows() {
  long n = 0;
  ::EnumWindows(countTop, reinterpret_cast<LPARAM>(&n));
  return n;
}

long probeHandles() {
  long n = 0;
  for (uintptr_t h = 4; h < 4 * 16384; h += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++n;
  }
  return n;
}

long long committedPrivateBytes() {
  long long total = 0;
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  auto* p = static_cast<uint8_t*>(si.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION mbi;
  while (p < si.lpMaximumApplicationAddress && ::VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi)) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += static_cast<long long>(mbi.RegionSize);
    p = static_cast<uint8_t*>(mbi.BaseAddress) + mbi.RegionSize;
  }
  return total;
}

}  // namespace

ProcessResources MeasureResources() {
  ProcessResources r;
  HANDLE self = ::GetCurrentProcess();
  r.gdi = static_cast<long>(::GetGuiResources(self, GR_GDIOBJECTS));
  if (r.gdi > 0) {
    r.sources += "GDI: GetGuiResources; ";
  } else {
    r.gdi = countGdiObjects();
    r.sources += "GDI: handle table; ";
  }
  r.user = static_cast<long>(::GetGuiResources(self, GR_USEROBJECTS));
  if (r.user > 0) {
    r.sources += "USER: GetGuiResources; ";
  } else {
    r.user = countWindows();
    r.sources += "USER: windows of the process; ";
  }
  DWORD handles = 0;
  if (::GetProcessHandleCount(self, &handles) && handles > 0) {
    r.handles = static_cast<long>(handles);
    r.sources += "handles: GetProcessHandleCount; ";
  } else {
    r.handles = probeHandles();
    r.sources += "handles: probed; ";
  }
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof(pmc);
  if (::GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)) &&
      pmc.PrivateUsage > 0) {
    r.privateBytes = static_cast<long long>(pmc.PrivateUsage);
    r.sources += "private: PrivateUsage";
  } else {
    r.privateBytes = committedPrivateBytes();
    r.sources += "private: committed private pages";
  }
  return r;
}

void ExpectBoundedGrowth(const ProcessResources& before, const ProcessResources& after, long long maxPrivateBytes) {
  EXPECT_LE(after.gdi - before.gdi, 10);
  EXPECT_LE(after.user - before.user, 10);
  EXPECT_LE(after.handles - before.handles, 20);
  EXPECT_LE(after.privateBytes - before.privateBytes, maxPrivateBytes);
}

}  // namespace tallowin::wintest

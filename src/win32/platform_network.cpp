// Computer and user names, the socket layer, the IP helper tables and NetBIOS.
#include "win32/win.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

// Texts of the ANSI socket functions and of MIB_IFROW are in the ANSI code page.
std::string fromAnsi(const char* text, size_t length) {
  if (length == 0) return {};
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), w.data(), n);
  return Utf8(w);
}

std::string toAnsi(const std::string& utf8) {
  const std::wstring w = Wide(utf8);
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string fixedAnsi(const char* field, size_t capacity) { return fromAnsi(field, strnlen(field, capacity)); }

// The sizing call, then filling calls until the table fits: it can grow
// between two calls. Rows are read only as far as the buffer reaches.
template <typename Call>
DWORD readTable(std::vector<unsigned char>* buffer, Call call) {
  ULONG size = 0;
  DWORD rc = call(nullptr, &size);
  for (int attempt = 0; attempt < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer->assign(size, 0);
    rc = call(buffer->data(), &size);
  }
  if (rc == NO_ERROR && buffer->empty()) buffer->assign(sizeof(DWORD), 0);  // an empty table
  return rc;
}

template <typename Table>
size_t rowsIn(const std::vector<unsigned char>& buffer, DWORD entries) {
  const size_t head = offsetof(Table, table);
  if (buffer.size() < head) return 0;
  return std::min<size_t>(entries, (buffer.size() - head) / sizeof(Table::table[0]));
}

Platform::IfRow fromIfRow(const MIB_IFROW& r) {
  Platform::IfRow out;
  out.hasDescr = r.dwDescrLen > 0;
  out.descr = fromAnsi(reinterpret_cast<const char*>(r.bDescr), Platform::IfDescrLength(r.bDescr, MAXLEN_IFDESCR, r.dwDescrLen));
  out.dwIndex = r.dwIndex;
  out.dwType = r.dwType;
  out.dwMtu = r.dwMtu;
  out.speed = r.dwSpeed;
  out.dwAdminStatus = r.dwAdminStatus;
  out.operStatus = r.dwOperStatus;
  out.physAddr.assign(r.bPhysAddr, r.bPhysAddr + std::min<DWORD>(r.dwPhysAddrLen, MAXLEN_PHYSADDR));
  out.inUcastPkts = r.dwInUcastPkts;
  out.inNUcastPkts = r.dwInNUcastPkts;
  out.inErrors = r.dwInErrors;
  out.outUcastPkts = r.dwOutUcastPkts;
  out.outNUcastPkts = r.dwOutNUcastPkts;
  out.outErrors = r.dwOutErrors;
  return out;
}

Platform::IfRow fromIfRow2(const MIB_IF_ROW2& r) {
  Platform::IfRow out;
  out.hasDescr = true;
  out.descr = Utf8(r.Description, wcsnlen(r.Description, IF_MAX_STRING_SIZE + 1));
  out.dwIndex = r.InterfaceIndex;
  out.dwType = r.Type;
  out.dwMtu = r.Mtu;
  out.speed = r.TransmitLinkSpeed;
  out.dwAdminStatus = static_cast<uint32_t>(r.AdminStatus);
  out.operStatus = static_cast<uint32_t>(r.OperStatus);
  out.fromIfTable2 = true;
  out.hardwareInterface = r.InterfaceAndOperStatusFlags.HardwareInterface != 0;
  out.physAddr.assign(r.PhysicalAddress,
                      r.PhysicalAddress + std::min<ULONG>(r.PhysicalAddressLength, IF_MAX_PHYS_ADDRESS_LENGTH));
  out.inUcastPkts = r.InUcastPkts;
  out.inNUcastPkts = r.InNUcastPkts;
  out.inErrors = r.InErrors;
  out.outUcastPkts = r.OutUcastPkts;
  out.outNUcastPkts = r.OutNUcastPkts;
  out.outErrors = r.OutErrors;
  return out;
}

}  // namespace

std::string WinPlatform::GetComputerName() {
  wchar_t buffer[32] = {};
  DWORD size = 32;
  if (!::GetComputerNameW(buffer, &size)) return {};
  return Utf8(buffer, wcsnlen(buffer, 32));
}

std::string WinPlatform::GetUserName() {
  wchar_t buffer[257] = {};  // UNLEN + 1
  DWORD size = 257;
  if (!::GetUserNameW(buffer, &size)) return {};
  return Utf8(buffer, wcsnlen(buffer, 257));
}

int32_t WinPlatform::WSAStartup(uint16_t versionRequested, WsaData* data) {
  WSADATA d{};
  const int rc = ::WSAStartup(versionRequested, &d);
  data->wVersion = d.wVersion;
  data->wHighVersion = d.wHighVersion;
  data->szDescription = fixedAnsi(d.szDescription, sizeof(d.szDescription));
  data->szSystemStatus = fixedAnsi(d.szSystemStatus, sizeof(d.szSystemStatus));
  return rc;
}

int32_t WinPlatform::WSACleanup() { return ::WSACleanup(); }

int32_t WinPlatform::gethostname(std::string* name) {
  char buffer[256] = {};
  if (::gethostname(buffer, 255) != 0) return ::WSAGetLastError();
  *name = fixedAnsi(buffer, sizeof(buffer));
  return 0;
}

bool WinPlatform::gethostbyname(const std::string& name, HostEnt* entry) {
  const hostent* h = ::gethostbyname(toAnsi(name).c_str());
  if (!h) return false;
  // The entry lives in per-thread storage of the socket layer: copy it now.
  entry->h_name = h->h_name ? fromAnsi(h->h_name, strlen(h->h_name)) : std::string();
  entry->h_addr_list.clear();
  const size_t length = h->h_length > 0 ? static_cast<size_t>(h->h_length) : 0;
  for (char** a = h->h_addr_list; a && *a; ++a)
    entry->h_addr_list.emplace_back(reinterpret_cast<const uint8_t*>(*a), reinterpret_cast<const uint8_t*>(*a) + length);
  return true;
}

uint32_t WinPlatform::GetIpAddrTable(std::vector<MibIpAddrRow>* rows) {
  rows->clear();
  std::vector<unsigned char> buffer;
  bool sizing = true;
  const DWORD rc = readTable(&buffer, [&](unsigned char* b, ULONG* size) {
    // Sorted for the sizing call, unsorted for the rows themselves.
    const BOOL order = sizing ? TRUE : FALSE;
    sizing = false;
    return ::GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(b), size, order);
  });
  if (rc != NO_ERROR) return rc;
  const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
  const size_t n = rowsIn<MIB_IPADDRTABLE>(buffer, table->dwNumEntries);
  for (size_t i = 0; i < n; ++i) rows->push_back({table->table[i].dwAddr, table->table[i].dwIndex});
  return NO_ERROR;
}

uint32_t WinPlatform::GetIfTable(std::vector<IfRow>* rows) {
  rows->clear();
  std::vector<unsigned char> buffer;
  const DWORD rc = readTable(&buffer, [](unsigned char* b, ULONG* size) {
    return ::GetIfTable(reinterpret_cast<MIB_IFTABLE*>(b), size, TRUE);
  });
  if (rc != NO_ERROR) return rc;
  const auto* table = reinterpret_cast<const MIB_IFTABLE*>(buffer.data());
  const size_t n = rowsIn<MIB_IFTABLE>(buffer, table->dwNumEntries);
  for (size_t i = 0; i < n; ++i) rows->push_back(fromIfRow(table->table[i]));
  return NO_ERROR;
}

uint32_t WinPlatform::GetIfTable2(std::vector<IfRow>* rows) {
  rows->clear();
  using GetIfTable2Fn = DWORD(WINAPI*)(MIB_IF_TABLE2**);
  using FreeMibTableFn = void(WINAPI*)(void*);
  UniqueLibrary lib(::LoadLibraryW(L"iphlpapi.dll"));
  if (!lib) return ERROR_NOT_SUPPORTED;
  auto get = reinterpret_cast<GetIfTable2Fn>(reinterpret_cast<void*>(::GetProcAddress(lib.get(), "GetIfTable2")));
  auto release = reinterpret_cast<FreeMibTableFn>(reinterpret_cast<void*>(::GetProcAddress(lib.get(), "FreeMibTable")));
  if (!get || !release) return ERROR_NOT_SUPPORTED;
  MIB_IF_TABLE2* table = nullptr;
  const DWORD rc = get(&table);
  if (rc != NO_ERROR) return rc;
  if (!table) return ERROR_NOT_SUPPORTED;
  try {
    for (ULONG i = 0; i < table->NumEntries; ++i) rows->push_back(fromIfRow2(table->Table[i]));
  } catch (...) {
    release(table);
    throw;
  }
  release(table);
  return NO_ERROR;
}

uint8_t WinPlatform::Netbios(Ncb& in) {
  NCB ncb{};
  ncb.ncb_command = in.ncb_command;
  ncb.ncb_lana_num = in.ncb_lana_num;
  std::memcpy(ncb.ncb_callname, in.ncb_callname.data(), std::min<size_t>(in.ncb_callname.size(), NCBNAMSZ));
  if (in.ncb_buffer) {
    ncb.ncb_buffer = in.ncb_buffer->data();
    ncb.ncb_length = static_cast<WORD>(std::min<size_t>(in.ncb_buffer->size(), 0xFFFF));
  }
  return ::Netbios(&ncb);
}

}  // namespace tallowin::win32

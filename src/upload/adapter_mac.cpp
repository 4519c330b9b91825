#include "upload/adapter_mac.h"

#include <algorithm>
#include <new>
#include <vector>

#include "sections/network/interfaces.h"

namespace tallowin {

namespace {

constexpr size_t kStatusBytes = 680;  // the adapter status and the name entries after it
constexpr uint32_t kIfTypeLoopback = 24;
constexpr uint32_t kIfTypeTunnel = 131;
constexpr uint32_t kAdminUp = 1;
constexpr uint32_t kOperUp = 1;           // IfOperStatusUp, GetIfTable2's numbering
constexpr uint32_t kOperOperational = 5;  // IF_OPER_STATUS_OPERATIONAL, GetIfTable's

bool allZero(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// Passing traffic now, not merely switched on: an adapter whose cable is out
// is administratively up too. The two tables number the states differently.
bool operational(const IfRow& row) {
  return row.operStatus == (row.fromIfTable2 ? kOperUp : kOperOperational);
}

// NetBIOS over TCP/IP is off or absent on many networks; then the address of
// the first interface that can stand for the machine: up and operational, a
// hardware adapter where the table says so (not a virtual switch or a VPN
// adapter), neither loopback nor tunnel, with a six-byte address. Index order
// keeps the choice stable.
bool interfaceAddress(Platform& platform, std::vector<uint8_t>* address) {
  std::vector<IfRow> rows;
  if (!ReadInterfaceTable(platform, &rows)) return false;
  for (const IfRow& row : rows) {
    if (row.dwAdminStatus != kAdminUp || !operational(row) || !row.hardwareInterface.value_or(true)) continue;
    if (row.dwType == kIfTypeLoopback || row.dwType == kIfTypeTunnel) continue;
    if (row.physAddr.size() != 6 || allZero(row.physAddr)) continue;
    *address = row.physAddr;
    return true;
  }
  return false;
}

}  // namespace

std::string GetAdapterMac(Platform& platform) {
  Platform::Ncb reset;
  reset.ncb_command = Platform::kNcbReset;
  platform.Netbios(reset);

  std::vector<uint8_t> status;
  try {
    status.assign(kStatusBytes, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  Platform::Ncb request;
  request.ncb_command = Platform::kNcbAdapterStatus;
  request.ncb_callname = "*               ";
  request.ncb_lana_num = 0;
  request.ncb_buffer = &status;
  const uint8_t rc = platform.Netbios(request);

  // A status too long for the block still begins with the address.
  std::vector<uint8_t> address(status.begin(), status.begin() + 6);
  const bool answered = rc == Platform::kNrcGoodRet || rc == Platform::kNrcIncomplete;
  if (!answered || allZero(address)) {
    if (!interfaceAddress(platform, &address)) address.assign(6, 0);
  }
  return HexPairs(address);
}

}  // namespace tallowin

// The fake's network answers: plain data, handed out as the system would.
#include <algorithm>

#include "support/fake_platform.h"

namespace tallowin::test {

int32_t FakePlatform::WSAStartup(uint16_t versionRequested, WsaData* data) {
  wsaRequests.push_back(versionRequested);
  if (wsaStartupResult != 0) return wsaStartupResult;
  *data = wsaData;
  return 0;
}

int32_t FakePlatform::gethostname(std::string* name) {
  if (gethostnameResult != 0) return gethostnameResult;
  *name = hostName;
  return 0;
}

bool FakePlatform::gethostbyname(const std::string& name, HostEnt* entry) {
  resolved.push_back(name);
  auto it = hosts.find(name);
  if (it == hosts.end()) return false;
  *entry = it->second;
  return true;
}

uint32_t FakePlatform::GetIpAddrTable(std::vector<MibIpAddrRow>* rows) {
  if (ipAddrTableResult != 0) return ipAddrTableResult;
  *rows = ipAddrTable;
  return 0;
}

uint32_t FakePlatform::GetIfTable(std::vector<IfRow>* rows) {
  if (ifTableResult != 0) return ifTableResult;
  *rows = ifTable;
  return 0;
}

uint32_t FakePlatform::GetIfTable2(std::vector<IfRow>* rows) {
  if (ifTable2Result != 0) return ifTable2Result;
  *rows = ifTable2;
  for (IfRow& r : *rows) r.fromIfTable2 = true;  // as the real table's rows say
  return 0;
}

uint8_t FakePlatform::Netbios(Ncb& ncb) {
  netbiosCalls.push_back({ncb.ncb_command, ncb.ncb_lana_num, ncb.ncb_callname,
                          ncb.ncb_buffer ? ncb.ncb_buffer->size() : 0});
  if (ncb.ncb_command != kNcbAdapterStatus) return kNrcGoodRet;
  if (netbiosStatusResult == kNrcGoodRet || netbiosStatusResult == kNrcIncomplete) {
    if (ncb.ncb_buffer) {
      const size_t n = std::min(adapterStatus.size(), ncb.ncb_buffer->size());
      std::copy_n(adapterStatus.begin(), n, ncb.ncb_buffer->begin());
    }
  }
  return netbiosStatusResult;
}

}  // namespace tallowin::test

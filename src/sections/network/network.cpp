// The network section: names, addresses, the user, the socket layer, then
// the interface listing.
#include "platform/global.h"
#include "platform/registry.h"
#include "sections/network/interfaces.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr int32_t kSmNetwork = 63;
constexpr int32_t kSmRemoteSession = 0x1000;
constexpr uint16_t kWinsock11 = 0x0101;


uint8_t lowByte(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t highByte(uint16_t v) { return static_cast<uint8_t>(v >> 8); }

std::string addressText(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += '.';
    out += std::to_string(bytes[i]);
  }
  return out;
}

// The socket layer, cleaned up on every path out of the run that started it
// (a yield can end the run when the window goes away).
class Sockets {
 public:
  explicit Sockets(Platform& platform) : platform_(platform) {
    started_ = platform_.WSAStartup(kWinsock11, &data_) == 0;
    if (!started_) {
      data_.wVersion = 0;
      data_.wHighVersion = 0;
    }
  }
  ~Sockets() {
    if (started_) platform_.WSACleanup();
  }
  Sockets(const Sockets&) = delete;
  Sockets& operator=(const Sockets&) = delete;
  bool present() const { return static_cast<int16_t>(data_.wVersion) > 0; }
  const Platform::WsaData& data() const { return data_; }

 private:
  Platform& platform_;
  Platform::WsaData data_;
  bool started_ = false;
};

void listHostAddresses(SectionContext& ctx, const std::string& hostName) {
  Platform::HostEnt host;
  if (!ctx.platform().gethostbyname(hostName, &host)) return;
  AddNetworkLine(ctx, "Fully Qualified Domain Name: " + host.h_name, 5030);
  for (const auto& address : host.h_addr_list) AddNetworkLine(ctx, "IP Address: " + addressText(address), 5040);
  AddNetworkLine(ctx, "IP Address: 127.0.0.1", 5040);
}

}  // namespace

void CollectNetwork(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ctx.showProgressLine();
  const int32_t network = p.GetSystemMetrics(kSmNetwork);
  const std::string computerName = p.GetComputerName();
  ctx.removeProgressLine();
  AddNetworkLine(ctx, "NetBIOS Name: " + StripNullsAndTrim(computerName), 5010);

  Platform::WsaData wsa;
  bool present = false;
  {
    Sockets sockets(p);
    present = sockets.present();
    wsa = sockets.data();
    std::string hostName;
    if (present && p.gethostname(&hostName) == 0) {
      hostName = StripNullsAndTrim(hostName);
      AddNetworkLine(ctx, "DNS Host Name: " + hostName, 5020);
      listHostAddresses(ctx, hostName);
    }
  }

  AddNetworkLine(ctx, "User Name: " + StripNullsAndTrim(p.GetUserName()), 5045);
  AddNetworkLine(ctx, std::string("Connected to Network: ") + YesNo(network != 0), 5050);
  AddNetworkLine(ctx, std::string("Winsock Present: ") + YesNo(present), 5060);
  if (present) {
    AddNetworkLine(ctx,
                   "Winsock Version: " + std::to_string(lowByte(wsa.wHighVersion)) + "." +
                       std::to_string(highByte(wsa.wHighVersion)),
                   5070);
    AddNetworkLine(ctx, "Winsock Description: " + TrimNull(wsa.szDescription), 5080);
    AddNetworkLine(ctx, "Winsock Status: " + TrimNull(wsa.szSystemStatus), 5090);
  }
  AddNetworkLine(ctx, std::string("Remote/Terminal Session: ") + YesNo(p.GetSystemMetrics(kSmRemoteSession) != 0),
                 5100);

  if (ApiExists(p, "iphlpapi.dll", "GetIfTable")) {
    LoadInterfaceAddresses(ctx);
    ListInterfaces(ctx);
  }
}

}  // namespace tallowin

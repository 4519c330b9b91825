#include "sections/network/interfaces.h"

#include <algorithm>

#include "control/profile_control.h"
#include "platform/code_text.h"
#include "platform/global.h"

namespace tallowin {

namespace {

constexpr CodeText<uint32_t> kInterfaceTypes[] = {
    {6, "Ethernet"},
    {9, "Token Ring"},
    {15, "FDDI (Fiber Optic)"},
    {23, "PPP (Dialup)"},
    {24, "Loopback (Diagnostic)"},
    {28, "SLIP (Dialup/Serial)"},
};

constexpr CodeText<uint32_t> kAdminStates[] = {{1, "Up"}, {2, "Down"}, {3, "Testing"}};

}  // namespace

std::string ErrorRateText(Platform& platform, uint64_t errors, Wide128 packets) {
  std::string percent;
  if (errors == 0)
    percent = "0";
  else if (packets.hi == 0 && packets.lo == 0)
    percent = "100";
  else
    percent = DecimalQuotient(Product(errors, 100), packets, 6);
  return FormatDecimal(platform, percent, 6) + "%";
}

void AddNetworkLine(ProfileControl& control, std::string text, int32_t itemValue) {
  control.list().append(std::move(text), itemValue);
  control.yield();
}

std::string IpToString(uint32_t stored) {
  return std::to_string(stored & 0xFF) + "." + std::to_string((stored >> 8) & 0xFF) + "." +
         std::to_string((stored >> 16) & 0xFF) + "." + std::to_string(stored >> 24);
}

std::string HexPairs(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += '-';
    out += HexText(bytes[i], 2);
  }
  return out;
}

std::string InterfaceTypeText(uint32_t dwType) {
  const char* text = TextOfCode(kInterfaceTypes, dwType);
  return text ? text : "Unknown";
}

std::string AdminStatusText(uint32_t dwAdminStatus) {
  if (const char* text = TextOfCode(kAdminStates, dwAdminStatus)) return text;
  return "Unknown (" + std::to_string(dwAdminStatus) + ")";
}

void LoadInterfaceAddresses(ProfileControl& control) {
  control.interfaceAddresses.clear();
  std::vector<Platform::MibIpAddrRow> rows;
  if (control.platform().GetIpAddrTable(&rows) != 0) return;
  for (const auto& row : rows) control.interfaceAddresses.push_back({row.dwIndex, IpToString(row.dwAddr)});
}

bool ReadInterfaceTable(Platform& platform, std::vector<IfRow>* rows) {
  rows->clear();
  if (platform.GetIfTable2(rows) != 0) {
    rows->clear();
    if (platform.GetIfTable(rows) != 0) {
      rows->clear();
      return false;
    }
  }
  // GetIfTable sorts when asked; GetIfTable2 does not.
  std::stable_sort(rows->begin(), rows->end(),
                   [](const IfRow& a, const IfRow& b) { return a.dwIndex < b.dwIndex; });
  return true;
}

void ListInterfaces(ProfileControl& control) {
  std::vector<IfRow> rows;
  if (!ReadInterfaceTable(control.platform(), &rows)) return;
  AddNetworkLine(control, "Network Interfaces: " + std::to_string(rows.size()), 5110);
  for (const IfRow& row : rows) WriteInterfaceBlock(control, row);
}

void WriteInterfaceBlock(ProfileControl& control, const IfRow& row) {
  Platform& p = control.platform();
  AddNetworkLine(control, "", 0);
  if (row.hasDescr) AddNetworkLine(control, "Interface: " + row.descr, 5300);
  AddNetworkLine(control, "  Index: " + std::to_string(row.dwIndex) + " (" + IpToString(row.dwIndex) + ")", 5310);
  AddNetworkLine(control, "  Type: " + InterfaceTypeText(row.dwType), 5320);
  AddNetworkLine(control, "  MTU: " + FormatDecimal(p, std::to_string(row.dwMtu), 0) + " bytes", 5340);
  AddNetworkLine(control, "  Speed: " + FormatDecimal(p, DecimalOfPow10Fraction(row.speed, 6, 2), 2) + " Mbps",
                 5350);
  AddNetworkLine(control, "  Admin Status: " + AdminStatusText(row.dwAdminStatus), 5360);
  AddNetworkLine(control, "  MAC Address: " + (row.physAddr.empty() ? std::string("<none>") : HexPairs(row.physAddr)),
                 5380);
  // Copied first: a yield may let another run of the section rebuild the table.
  const std::vector<InterfaceAddress> addresses = control.interfaceAddresses;
  for (const InterfaceAddress& a : addresses)
    if (a.index == row.dwIndex) AddNetworkLine(control, "  IP Address: " + a.address, 5390);

  const Wide128 sent = Add({0, row.outUcastPkts}, {0, row.outNUcastPkts});
  AddNetworkLine(control, "  Packets Sent: " + FormatDecimal(p, DecimalText(sent), 0), 5392);
  AddNetworkLine(control, "  Error Packets Sent: " + FormatDecimal(p, std::to_string(row.outErrors), 0), 5393);
  AddNetworkLine(control, "  Send Error Rate: " + ErrorRateText(p, row.outErrors, sent), 5394);
  const Wide128 received = Add({0, row.inUcastPkts}, {0, row.inNUcastPkts});
  AddNetworkLine(control, "  Packets Received: " + FormatDecimal(p, DecimalText(received), 0), 5396);
  AddNetworkLine(control, "  Error Packets Received: " + FormatDecimal(p, std::to_string(row.inErrors), 0), 5397);
  AddNetworkLine(control, "  Receive Error Rate: " + ErrorRateText(p, row.inErrors, received), 5398);
}

}  // namespace tallowin

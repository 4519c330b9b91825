#include "sections/network/interfaces.h"

#include <algorithm>

#include "platform/code_text.h"
#include "platform/global.h"
#include "sections/section_context.h"

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

void AddNetworkLine(SectionContext& ctx, std::string text, int32_t itemValue) {
  ctx.list().append(std::move(text), itemValue);
  ctx.yield();
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

void LoadInterfaceAddresses(SectionContext& ctx) {
  ctx.interfaceAddresses().clear();
  std::vector<Platform::MibIpAddrRow> rows;
  if (ctx.platform().GetIpAddrTable(&rows) != 0) return;
  for (const auto& row : rows) ctx.interfaceAddresses().push_back({row.dwIndex, IpToString(row.dwAddr)});
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

void ListInterfaces(SectionContext& ctx) {
  std::vector<IfRow> rows;
  if (!ReadInterfaceTable(ctx.platform(), &rows)) return;
  AddNetworkLine(ctx, "Network Interfaces: " + std::to_string(rows.size()), 5110);
  for (const IfRow& row : rows) WriteInterfaceBlock(ctx, row);
}

void WriteInterfaceBlock(SectionContext& ctx, const IfRow& row) {
  Platform& p = ctx.platform();
  AddNetworkLine(ctx, "", 0);
  if (row.hasDescr) AddNetworkLine(ctx, "Interface: " + row.descr, 5300);
  AddNetworkLine(ctx, "  Index: " + std::to_string(row.dwIndex) + " (" + IpToString(row.dwIndex) + ")", 5310);
  AddNetworkLine(ctx, "  Type: " + InterfaceTypeText(row.dwType), 5320);
  AddNetworkLine(ctx, "  MTU: " + FormatDecimal(p, std::to_string(row.dwMtu), 0) + " bytes", 5340);
  AddNetworkLine(ctx, "  Speed: " + FormatDecimal(p, DecimalOfPow10Fraction(row.speed, 6, 2), 2) + " Mbps",
                 5350);
  AddNetworkLine(ctx, "  Admin Status: " + AdminStatusText(row.dwAdminStatus), 5360);
  AddNetworkLine(ctx, "  MAC Address: " + (row.physAddr.empty() ? std::string("<none>") : HexPairs(row.physAddr)),
                 5380);
  // Copied first: a yield may let another run of the section rebuild the table.
  const std::vector<InterfaceAddress> addresses = ctx.interfaceAddresses();
  for (const InterfaceAddress& a : addresses)
    if (a.index == row.dwIndex) AddNetworkLine(ctx, "  IP Address: " + a.address, 5390);

  const Wide128 sent = Add({0, row.outUcastPkts}, {0, row.outNUcastPkts});
  AddNetworkLine(ctx, "  Packets Sent: " + FormatDecimal(p, DecimalText(sent), 0), 5392);
  AddNetworkLine(ctx, "  Error Packets Sent: " + FormatDecimal(p, std::to_string(row.outErrors), 0), 5393);
  AddNetworkLine(ctx, "  Send Error Rate: " + ErrorRateText(p, row.outErrors, sent), 5394);
  const Wide128 received = Add({0, row.inUcastPkts}, {0, row.inNUcastPkts});
  AddNetworkLine(ctx, "  Packets Received: " + FormatDecimal(p, DecimalText(received), 0), 5396);
  AddNetworkLine(ctx, "  Error Packets Received: " + FormatDecimal(p, std::to_string(row.inErrors), 0), 5397);
  AddNetworkLine(ctx, "  Receive Error Rate: " + ErrorRateText(p, row.inErrors, received), 5398);
}

}  // namespace tallowin

#include "sections/network/interfaces.h"

#include <algorithm>

#include "control/profile_control.h"

namespace tallowin {

namespace {

bool less(Wide128 a, Wide128 b) { return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo); }
bool isZero(Wide128 a) { return a.hi == 0 && a.lo == 0; }

Wide128 sub(Wide128 a, Wide128 b) {  // a >= b
  Wide128 r;
  r.lo = a.lo - b.lo;
  r.hi = a.hi - b.hi - (a.lo < b.lo ? 1 : 0);
  return r;
}

Wide128 shl(Wide128 a, unsigned n) {  // n < 64
  if (n == 0) return a;
  return {(a.hi << n) | (a.lo >> (64 - n)), a.lo << n};
}

Wide128 times10(Wide128 a) { return Add(shl(a, 3), shl(a, 1)); }

unsigned bit(Wide128 a, int i) {
  return static_cast<unsigned>((i >= 64 ? a.hi >> (i - 64) : a.lo >> i) & 1);
}

// Binary long division; the denominators here stay far below 2^127.
void divMod(Wide128 n, Wide128 d, Wide128* quotient, Wide128* remainder) {
  Wide128 q, r;
  for (int i = 127; i >= 0; --i) {
    r = shl(r, 1);
    r.lo |= bit(n, i);
    if (!less(r, d)) {
      r = sub(r, d);
      if (i >= 64)
        q.hi |= uint64_t{1} << (i - 64);
      else
        q.lo |= uint64_t{1} << i;
    }
  }
  *quotient = q;
  *remainder = r;
}

// Adds one to a string of decimal digits.
void increment(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

std::string formatted(Platform& platform, const std::string& number, int decimals) {
  NumberStyle style;
  style.decimals = decimals;
  return platform.GetNumberFormat(number, style);
}

struct Code {
  uint32_t code;
  const char* text;
};

constexpr Code kInterfaceTypes[] = {
    {6, "Ethernet"},
    {9, "Token Ring"},
    {15, "FDDI (Fiber Optic)"},
    {23, "PPP (Dialup)"},
    {24, "Loopback (Diagnostic)"},
    {28, "SLIP (Dialup/Serial)"},
};

constexpr Code kAdminStates[] = {{1, "Up"}, {2, "Down"}, {3, "Testing"}};

}  // namespace

Wide128 Add(Wide128 a, Wide128 b) {
  Wide128 r;
  r.lo = a.lo + b.lo;
  r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
  return r;
}

std::string DecimalText(Wide128 value) {
  if (value.hi == 0) return std::to_string(value.lo);
  std::string out;
  uint32_t limbs[4] = {static_cast<uint32_t>(value.hi >> 32), static_cast<uint32_t>(value.hi),
                       static_cast<uint32_t>(value.lo >> 32), static_cast<uint32_t>(value.lo)};
  while (limbs[0] || limbs[1] || limbs[2] || limbs[3]) {
    uint64_t rem = 0;
    for (uint32_t& limb : limbs) {
      const uint64_t cur = (rem << 32) | limb;
      limb = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    out.insert(out.begin(), static_cast<char>('0' + rem));
  }
  return out;
}

std::string DecimalQuotient(Wide128 numerator, Wide128 denominator, int decimals) {
  if (isZero(denominator)) return "0";
  Wide128 q, r;
  divMod(numerator, denominator, &q, &r);
  std::string whole = DecimalText(q);
  std::string frac;
  bool roundUp = false;
  for (int k = 0; k <= decimals; ++k) {
    r = times10(r);
    int digit = 0;
    while (!less(r, denominator)) {
      r = sub(r, denominator);
      ++digit;
    }
    if (k < decimals)
      frac += static_cast<char>('0' + digit);
    else
      roundUp = digit >= 5;
  }
  std::string digits = whole + frac;
  if (roundUp) increment(digits);
  if (decimals == 0) return digits;
  const size_t point = digits.size() - static_cast<size_t>(decimals);
  return digits.substr(0, point) + "." + digits.substr(point);
}

std::string ErrorRateText(Platform& platform, uint64_t errors, Wide128 packets) {
  std::string percent;
  if (errors == 0)
    percent = "0";
  else if (isZero(packets))
    percent = "100";
  else
    percent = DecimalQuotient(times10(times10({0, errors})), packets, 6);
  return formatted(platform, percent, 6) + "%";
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
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += '-';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string InterfaceTypeText(uint32_t dwType) {
  for (const Code& c : kInterfaceTypes)
    if (c.code == dwType) return c.text;
  return "Unknown";
}

std::string AdminStatusText(uint32_t dwAdminStatus) {
  for (const Code& c : kAdminStates)
    if (c.code == dwAdminStatus) return c.text;
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
  AddNetworkLine(control, "  MTU: " + formatted(p, std::to_string(row.dwMtu), 0) + " bytes", 5340);
  AddNetworkLine(control, "  Speed: " + formatted(p, DecimalQuotient({0, row.speed}, {0, 1000000}, 2), 2) + " Mbps",
                 5350);
  AddNetworkLine(control, "  Admin Status: " + AdminStatusText(row.dwAdminStatus), 5360);
  AddNetworkLine(control, "  MAC Address: " + (row.physAddr.empty() ? std::string("<none>") : HexPairs(row.physAddr)),
                 5380);
  // Copied first: a yield may let another run of the section rebuild the table.
  const std::vector<InterfaceAddress> addresses = control.interfaceAddresses;
  for (const InterfaceAddress& a : addresses)
    if (a.index == row.dwIndex) AddNetworkLine(control, "  IP Address: " + a.address, 5390);

  const Wide128 sent = Add({0, row.outUcastPkts}, {0, row.outNUcastPkts});
  AddNetworkLine(control, "  Packets Sent: " + formatted(p, DecimalText(sent), 0), 5392);
  AddNetworkLine(control, "  Error Packets Sent: " + formatted(p, std::to_string(row.outErrors), 0), 5393);
  AddNetworkLine(control, "  Send Error Rate: " + ErrorRateText(p, row.outErrors, sent), 5394);
  const Wide128 received = Add({0, row.inUcastPkts}, {0, row.inNUcastPkts});
  AddNetworkLine(control, "  Packets Received: " + formatted(p, DecimalText(received), 0), 5396);
  AddNetworkLine(control, "  Error Packets Received: " + formatted(p, std::to_string(row.inErrors), 0), 5397);
  AddNetworkLine(control, "  Receive Error Rate: " + ErrorRateText(p, row.inErrors, received), 5398);
}

}  // namespace tallowin

// The interface listing that closes the network section, and what it needs:
// the interface address table, IpToString and the error rates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/decimal.h"
#include "platform/platform.h"

namespace tallowin {

class SectionContext;
using IfRow = Platform::IfRow;

// Appends a line of the network section with its item value (0: none) and
// lets the host repaint before the next one.
void AddNetworkLine(SectionContext& ctx, std::string text, int32_t itemValue);

// The four bytes of a 32-bit value as Windows stores it (lowest-order byte
// first), each in decimal, joined by ".": an IPv4 address in network byte
// order reads in its usual form.
std::string IpToString(uint32_t stored);

// Bytes as upper-case hexadecimal pairs joined by "-".
std::string HexPairs(const std::vector<uint8_t>& bytes);

// Rebuilds the control's interface address table from GetIpAddrTable; a
// failed read leaves it empty. Writes no lines.
void LoadInterfaceAddresses(SectionContext& ctx);

// The interface table: the 64-bit one where the platform has it (MIB_IFROW's
// 32-bit speed and counters saturate and wrap), else the 32-bit one; rows in
// ascending interface index. false when neither can be read.
bool ReadInterfaceTable(Platform& platform, std::vector<IfRow>* rows);

// "Network Interfaces: " with the count, then one block per interface. When
// no table can be read the section ends without the count line.
void ListInterfaces(SectionContext& ctx);
void WriteInterfaceBlock(SectionContext& ctx, const IfRow& row);

std::string InterfaceTypeText(uint32_t dwType);
std::string AdminStatusText(uint32_t dwAdminStatus);

// "0.000000%"-style rate of errors among packets in the regional format.
// Errors with no packets at all count as every packet failed: 100%.
std::string ErrorRateText(Platform& platform, uint64_t errors, Wide128 packets);

}  // namespace tallowin

// What a section collector may use of the control that runs it: the platform,
// the list it appends to, the host's yield, the progress line, the version
// flags and the interface address table. Nothing of the window or the upload.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/report_list.h"
#include "platform/platform.h"

namespace tallowin {

// Decoded Windows version; set by the operating-system section, never reset.
struct VersionFlags {
  bool IsWinNT = false;
  bool IsWinNT35 = false;
  bool IsWinNT4 = false;
  bool IsWin2000 = false;
  bool IsWin9x = false;
  bool IsWin95 = false;
  bool IsWin98 = false;
  bool IsWinME = false;
  bool IsWinXP = false;
  bool IsWin3x = false;
  int32_t OsMajorVersion = 0;
  int32_t OsMinorVersion = 0;
};

// One row of the interface address table: which IPv4 address belongs to
// which interface. Rebuilt by every run of the network section.
struct InterfaceAddress {
  uint32_t index = 0;
  std::string address;
};

// What outlives one collector's run (the flags, the address table, whether
// the progress line shows) is the control's, lent to each run.
struct SectionState {
  VersionFlags& flags;
  std::vector<InterfaceAddress>& interfaceAddresses;
  bool& showingProgress;  // "Working ..." is showing (network and printers)
};

// Thrown out of a yield when the control was closed meanwhile: the run then
// stops without touching anything the window owned. A collector that catches
// errors lets it pass.
struct DispatchAborted {};

class SectionContext {
 public:
  // `yield` lets the host process pending messages; it throws
  // DispatchAborted when the run is to stop.
  SectionContext(Platform& platform, ReportList& list, SectionState state, std::function<void()> yield)
      : platform_(platform), list_(list), state_(state), yield_(std::move(yield)) {}

  Platform& platform() const { return platform_; }
  ReportList& list() const { return list_; }
  VersionFlags& flags() const { return state_.flags; }
  std::vector<InterfaceAddress>& interfaceAddresses() const { return state_.interfaceAddresses; }
  void yield() const {
    if (yield_) yield_();
  }
  // When the list is empty: shows "Working ...", yields, sets the flag.
  void showProgressLine() const;
  // When the flag is set: clears the list and resets the flag.
  void removeProgressLine() const;

 private:
  Platform& platform_;
  ReportList& list_;
  SectionState state_;
  std::function<void()> yield_;
};

}  // namespace tallowin

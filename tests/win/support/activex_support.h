// regsvr32, atl.dll's container and registry snapshots, for the control's tests.
#pragma once

#include "win32/win.h"

#include <map>
#include <optional>
#include <string>

#include "win/support/win_support.h"

namespace tallowin::wintest {

std::wstring OcxPath();  // beside the test program
// regsvr32 with the given switches ("/s", "/u /s", "/s /n /i:user") on tallowin.ocx.
RunResult Regsvr32(const std::wstring& switches);

// The control created by ProgID (or CLSID text) in a 640 x 480 AtlAxWin window
// on a hidden host, as any container would; everything goes with it.
class AxWinHost {
 public:
  explicit AxWinHost(const wchar_t* progId);
  ~AxWinHost();
  AxWinHost(const AxWinHost&) = delete;
  AxWinHost& operator=(const AxWinHost&) = delete;

  HWND form() const { return form_; }  // class TallowinFrmMain, or nullptr

 private:
  HWND top_ = nullptr;
  HWND ax_ = nullptr;
  HWND form_ = nullptr;
};

// A registry tree as sorted text: "PATH\" for every key, "PATH\:NAME" =
// "type:data" for every value, relative to the root, upper-cased (the
// registry ignores case), without the 32-bit view (Wow6432Node).
using RegSnapshot = std::map<std::wstring, std::wstring>;
std::wstring Upper(std::wstring s);  // registry names are case-insensitive
RegSnapshot SnapshotTree(HKEY root, const std::wstring& path);
// What after has that before has not; what before has that after lacks or changed.
struct RegDiff {
  RegSnapshot added;
  RegSnapshot removedOrChanged;
};
RegDiff Diff(const RegSnapshot& before, const RegSnapshot& after);

}  // namespace tallowin::wintest

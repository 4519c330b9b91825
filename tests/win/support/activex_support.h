// What the control's tests under Wine share: regsvr32, atl.dll's container,
// and registry snapshots.
#pragma once

#include "win32/win.h"

#include <map>
#include <optional>
#include <string>

#include "win/support/win_support.h"

namespace tallowin::wintest {

// build/<arch>/tallowin.ocx, beside the test program.
std::wstring OcxPath();
// wine's regsvr32 with the given switches on tallowin.ocx ("/s", "/u /s",
// "/s /n /i:user", ...).
RunResult Regsvr32(const std::wstring& switches);

// The control created by ProgID (or CLSID text) in an AtlAxWin window, as
// any ActiveX container would: a hidden host, the AtlAxWin child filling it,
// and inside that the control's frmMain window. Everything goes with it.
class AxWinHost {
 public:
  explicit AxWinHost(const wchar_t* progId, int width = 640, int height = 480, HWND parent = nullptr);
  ~AxWinHost();
  AxWinHost(const AxWinHost&) = delete;
  AxWinHost& operator=(const AxWinHost&) = delete;

  HWND form() const { return form_; }  // class TallowinFrmMain, or nullptr
  HWND container() const { return ax_; }
  HWND list() const;

 private:
  HWND top_ = nullptr;  // ours only when no parent was given
  HWND ax_ = nullptr;
  HWND form_ = nullptr;
};

// A registry tree as sorted text: "PATH\" for every key, "PATH\:NAME" =
// "type:data" for every value. Paths are relative to the tree's root and
// upper-cased (the registry ignores case); the 32-bit view (Wow6432Node)
// is left out.
using RegSnapshot = std::map<std::wstring, std::wstring>;
RegSnapshot SnapshotTree(HKEY root, const std::wstring& path);
// What after has that before has not, and what before has that after has
// not or has with another value.
struct RegDiff {
  RegSnapshot added;
  RegSnapshot removedOrChanged;
};
RegDiff Diff(const RegSnapshot& before, const RegSnapshot& after);
// One "  PATH = type:data" line per entry, for a failure's message.
std::string Describe(const RegSnapshot& s);

}  // namespace tallowin::wintest

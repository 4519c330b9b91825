#include "win32/frm_main.h"

#include "control/form.h"


#include "win32/module.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

// Positions in twips: left, top, width, height.
using form::Twips;

// Posted by postInitialUpload.
constexpr UINT kMsgInitialUpload = WM_APP + 1;

// The control and a hold on the module: while any copy of the pointer lives
// (a dispatch or an upload on the stack), the ocx is not unloaded.
struct HeldControl {
  HeldControl(Platform& platform, ControlView* view) : control(platform, view) {}
  ModuleLock lock;
  ProfileControl control;
};

int dpi(bool horizontal) {
  HDC dc = ::GetDC(nullptr);
  const int d = dc ? ::GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  if (dc) ::ReleaseDC(nullptr, dc);
  return d > 0 ? d : 96;
}

RECT toPixels(const Twips& t) {
  const int dx = dpi(true);
  const int dy = dpi(false);
  return {::MulDiv(t.left, dx, 1440), ::MulDiv(t.top, dy, 1440), ::MulDiv(t.left + t.width, dx, 1440),
          ::MulDiv(t.top + t.height, dy, 1440)};
}

}  // namespace

Platform& SystemPlatform() {
  static WinPlatform platform;
  return platform;
}

namespace {
UploadAction& uploadActionSlot() {
  static UploadAction action;
  return action;
}
}  // namespace

void SetUploadAction(UploadAction action) { uploadActionSlot() = std::move(action); }
const UploadAction& CurrentUploadAction() { return uploadActionSlot(); }

namespace {
// The tabs' tooltips as wide texts that live as long as the process: a
// tooltip keeps the pointer it is given.
const std::vector<std::wstring>& tabTooltips() {
  static const std::vector<std::wstring> tips = [] {
    std::vector<std::wstring> w;
    for (const form::Tab& t : form::Tabs()) w.push_back(Wide(t.tooltip));
    return w;
  }();
  return tips;
}
}  // namespace

FrmMain::FrmMain() = default;

SIZE FrmMain::DefaultSize() {
  return {::MulDiv(form::kWidth, dpi(true), 1440), ::MulDiv(form::kHeight, dpi(false), 1440)};
}

void FrmMain::UnregisterWindowClass() { ::UnregisterClassW(ClassName(), ModuleInstance()); }

FrmMain* FrmMain::FromWindow(HWND hwnd) {
  return reinterpret_cast<FrmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

FrmMain* FrmMain::Create(HWND parent, int x, int y) {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &FrmMain::WndProc;
    // The module's own instance: inside the ocx the class must belong to the
    // ocx, so that it goes with it and never outlives its window procedure.
    wc.hInstance = ModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName();
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) return nullptr;
  // The window takes the object over in WM_NCCREATE and deletes it in
  // WM_NCDESTROY, also when its creation fails later on; before that, the
  // owner here deletes it.
  std::unique_ptr<FrmMain> owner(new FrmMain());
  FrmMain* self = owner.get();
  const SIZE size = DefaultSize();
  HWND hwnd = ::CreateWindowExW(WS_EX_CONTROLPARENT, ClassName(), L"frmMain",
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, x, y, size.cx, size.cy,
                                parent, nullptr, ModuleInstance(), &owner);
  return hwnd ? self : nullptr;
}

LRESULT CALLBACK FrmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  FrmMain* self = FromWindow(hwnd);
  if (msg == WM_NCCREATE) {
    auto* owner = static_cast<std::unique_ptr<FrmMain>*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self = owner->release();
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete self;  // a dispatch still on the stack holds its own reference to the control
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return self->handle(msg, wp, lp);
  } catch (...) {
    // Nothing may escape into the host's message loop; a window whose
    // creation failed half-way is not created at all.
    return msg == WM_CREATE ? -1 : 0;
  }
}

void FrmMain::createChildren() {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) font_ = ::CreateFontIndirectW(&ncm.lfMessageFont);
  HINSTANCE inst = ModuleInstance();
  auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, const Twips& t, int id) {
    const RECT r = toPixels(t);
    HWND h = ::CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
    if (h && font_) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return h;
  };
  label_ = make(0, L"STATIC", Wide(form::kLabel1Caption).c_str(), SS_LEFT, form::kLabel1, kIdLabel1);
  command_ = make(0, L"BUTTON", Wide(form::kCommand1Caption).c_str(), BS_PUSHBUTTON | WS_TABSTOP, form::kCommand1, kIdCommand1);
  tabs_ = make(0, WC_TABCONTROLW, L"", TCS_TOOLTIPS | WS_TABSTOP, form::kTabProfile, kIdTabProfile);
  list_ = make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
               LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, form::kLstInfo, kIdLstInfo);
  desc_ = make(WS_EX_CLIENTEDGE, L"EDIT", L"", ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, form::kTxtDesc,
               kIdTxtDesc);
  about_ = make(0, L"BUTTON", Wide(form::kBtnAboutCaption).c_str(), BS_PUSHBUTTON | WS_TABSTOP, form::kBtnAbout, kIdBtnAbout);
  // Captions must fit in the host's font: a button or label grows to the right
  // when its text is wider than the form's size for it.
  for (HWND h : {label_, command_, about_}) {
    wchar_t text[128] = {};
    const int n = ::GetWindowTextW(h, text, 128);
    std::wstring shown;
    for (int i = 0; i < n; ++i)
      if (text[i] != L'&' || (i + 1 < n && text[i + 1] == L'&')) shown += text[i];
    HDC dc = ::GetDC(h);
    if (!dc) continue;
    HGDIOBJ old = font_ ? ::SelectObject(dc, font_) : nullptr;
    SIZE ext{};
    ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &ext);
    if (old) ::SelectObject(dc, old);
    ::ReleaseDC(h, dc);
    RECT r;
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    const int need = ext.cx + (h == label_ ? 4 : 16);
    if (need > r.right - r.left) ::MoveWindow(h, r.left, r.top, need, r.bottom - r.top, FALSE);
  }
  // The tab strip lies under the list and the text box.
  ::SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  int i = 0;
  for (const form::Tab& t : form::Tabs()) {
    std::wstring caption = Wide(t.caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(i++), reinterpret_cast<LPARAM>(&item));
  }
  ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(-1), 0);

  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, inst, nullptr);
  if (tooltip_) {
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(about_);
    static const std::wstring aboutTip = Wide(form::kBtnAboutTooltip);
    ti.lpszText = const_cast<wchar_t*>(aboutTip.c_str());
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    ti.uId = reinterpret_cast<UINT_PTR>(list_);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

LRESULT FrmMain::handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      auto held = std::make_shared<HeldControl>(SystemPlatform(), this);
      control_ = std::shared_ptr<ProfileControl>(held, &held->control);
      control_->uploadAction = CurrentUploadAction();
      control_->list().setObserver(this);
      createChildren();
      return 0;
    }
    case WM_DESTROY:
      if (control_) control_->detachView();
      // The tooltip is a popup: its owner is the top-level window around us,
      // not this child, so it would outlive the form in a container that
      // stays.
      if (tooltip_) ::DestroyWindow(tooltip_);
      tooltip_ = nullptr;
      if (font_) ::DeleteObject(font_);
      font_ = nullptr;
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      if (id == kIdCommand1 && code == BN_CLICKED) {
        auto keep = control_;
        keep->onCommand();
        return 0;
      }
      if (id == kIdLstInfo && code == LBN_SELCHANGE) {
        const int sel = static_cast<int>(::SendMessageW(list_, LB_GETCURSEL, 0, 0));
        auto keep = control_;
        if (sel >= 0 && sel < keep->list().count()) {
          keep->list().setSelectedIndex(sel);
          keep->onListClick();
        }
        return 0;
      }
      if (id == kIdLstInfo && code == LBN_DBLCLK) {
        const int sel = static_cast<int>(::SendMessageW(list_, LB_GETCURSEL, 0, 0));
        auto keep = control_;
        if (sel >= 0 && sel < keep->list().count()) {
          keep->list().setSelectedIndex(sel);
          keep->onListDoubleClick();
        }
        return 0;
      }
      return 0;  // btnAbout does nothing
    }
    case WM_NOTIFY: {
      const auto* nm = reinterpret_cast<const NMHDR*>(lp);
      if (nm->hwndFrom == tabs_ && nm->code == TCN_SELCHANGE) {
        onTabChanged();
        return 0;
      }
      if (nm->code == TTN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMTTDISPINFOW*>(lp);
        HWND tabTips = reinterpret_cast<HWND>(::SendMessageW(tabs_, TCM_GETTOOLTIPS, 0, 0));
        if (nm->hwndFrom == tabTips && di->hdr.idFrom < tabTooltips().size()) {
          di->lpszText = const_cast<wchar_t*>(tabTooltips()[di->hdr.idFrom].c_str());
        } else if (nm->hwndFrom == tooltip_) {
          di->lpszText = listTip_.empty() ? nullptr : listTip_.data();
        }
        return 0;
      }
      return 0;
    }
    case kMsgInitialUpload:
      if (initialUploadPending_) {
        initialUploadPending_ = false;
        auto keep = control_;
        if (keep) keep->onCommand();  // this window may be gone afterwards
      }
      return 0;
    case WM_SYSCHAR:
      if (handleAccessKey(static_cast<wchar_t>(wp))) return 0;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

void FrmMain::onTabChanged() {
  // Keeps the control alive through the dispatch even if this window goes.
  auto keep = control_;
  if (!keep) return;
  if (initialUploadPending_) {
    // The initialisation comes before anything else the control does.
    initialUploadPending_ = false;
    keep->onCommand();
  }
  keep->dispatch();  // does nothing when the window went away meanwhile
}

void FrmMain::postInitialUpload() {
  initialUploadPending_ = ::PostMessageW(hwnd_, kMsgInitialUpload, 0, 0) != FALSE;
}

bool FrmMain::handleAccessKey(wchar_t letter) {
  if (letter == 0 || letter > 0x7F) return false;
  const int tab = form::TabOfAccessKey(static_cast<char>(letter));
  if (tab < 0 || !::IsWindowEnabled(tabs_)) return false;
  selectTab(tab);
  return true;
}

void FrmMain::selectTab(int index) {
  ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  onTabChanged();
}

void FrmMain::setTabsEnabled(bool enabled) { ::EnableWindow(tabs_, enabled); }
void FrmMain::setAboutEnabled(bool enabled) { ::EnableWindow(about_, enabled); }
void FrmMain::setCommandEnabled(bool enabled) { ::EnableWindow(command_, enabled); }
void FrmMain::setDescText(const std::string& text) { ::SetWindowTextW(desc_, Wide(text).c_str()); }

std::string FrmMain::selectedTabTag() {
  const auto i = static_cast<int>(::SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
  if (i < 0 || static_cast<size_t>(i) >= form::Tabs().size()) return {};
  return form::Tabs()[static_cast<size_t>(i)].tag;
}

void FrmMain::focusTabs() {
  if (::IsWindowVisible(tabs_)) ::SetFocus(tabs_);
}

void FrmMain::onCleared() {
  ::SendMessageW(list_, LB_RESETCONTENT, 0, 0);
  listExtent_ = 0;
  ::SendMessageW(list_, LB_SETHORIZONTALEXTENT, 0, 0);
}

void FrmMain::onAppended(int, const std::string& text) {
  const std::wstring w = Wide(text);
  ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.c_str()));
  // Long lines scroll sideways rather than being cut.
  if (HDC dc = ::GetDC(list_)) {
    HGDIOBJ old = font_ ? ::SelectObject(dc, font_) : nullptr;
    SIZE s{};
    if (::GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &s) && s.cx + 8 > listExtent_) {
      listExtent_ = s.cx + 8;
      ::SendMessageW(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(listExtent_), 0);
    }
    if (old) ::SelectObject(dc, old);
    ::ReleaseDC(list_, dc);
  }
}

void FrmMain::onItemValue(int index, int32_t value) {
  ::SendMessageW(list_, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(value));
}

void FrmMain::onSelected(int index) { ::SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }

void FrmMain::onTooltip(const std::string& text) {
  listTip_ = Wide(text);
  if (tooltip_) {
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(list_);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void FrmMain::onEnabled(bool enabled) { ::EnableWindow(list_, enabled); }

}  // namespace tallowin::win32

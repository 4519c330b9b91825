#include "win32/frm_main.h"

#include "control/form.h"

#include <windowsx.h>

#include "win32/handles.h"
#include "win32/module.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

// Positions in twips: left, top, width, height.
using form::Twips;

// Posted by postInitialUpload.
constexpr UINT kMsgInitialUpload = WM_APP + 1;
constexpr UINT_PTR kTabsSubclassId = 1;

// The control and a hold on the module: while any copy of the pointer lives
// (a dispatch or an upload on the stack), the ocx is not unloaded.
struct HeldControl {
  explicit HeldControl(UploadAction upload) : control(SystemPlatform(), nullptr, std::move(upload)) {}
  ModuleLock lock;
  ProfileControl control;
};

int dpi(bool horizontal) {
  const WindowDc dc(nullptr);
  const int d = dc ? ::GetDeviceCaps(dc.get(), horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  return d > 0 ? d : 96;
}

RECT toPixels(const Twips& t) {
  const int dx = dpi(true);
  const int dy = dpi(false);
  return {::MulDiv(t.left, dx, 1440), ::MulDiv(t.top, dy, 1440), ::MulDiv(t.left + t.width, dx, 1440),
          ::MulDiv(t.top + t.height, dy, 1440)};
}

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

bool registerWindowClass(WNDPROC proc) {
  static const bool registered = [proc] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    // The module's own instance: inside the ocx the class must belong to the
    // ocx, so that it goes with it and never outlives its window procedure.
    wc.hInstance = ModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = FrmMain::ClassName();
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

std::shared_ptr<ProfileControl> MakeControl(UploadAction upload) {
  auto held = std::make_shared<HeldControl>(std::move(upload));
  return std::shared_ptr<ProfileControl>(held, &held->control);
}

FrmMain::FrmMain(std::shared_ptr<ProfileControl> control, FormOwner* owner)
    : control_(std::move(control)), owner_(owner), ownsControl_(owner == nullptr) {}

SIZE FrmMain::DefaultSize() {
  return {::MulDiv(form::kWidth, dpi(true), 1440), ::MulDiv(form::kHeight, dpi(false), 1440)};
}

void FrmMain::UnregisterWindowClass() { ::UnregisterClassW(ClassName(), ModuleInstance()); }

FrmMain* FrmMain::FromWindow(HWND hwnd) {
  return reinterpret_cast<FrmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

FrmMain* FrmMain::Around(HWND hwnd) {
  for (HWND h = hwnd; h; h = ::GetAncestor(h, GA_PARENT)) {
    wchar_t name[64] = {};
    if (::GetClassNameW(h, name, 64) && ::lstrcmpW(name, ClassName()) == 0) return FromWindow(h);
    if (!(::GetWindowLongPtrW(h, GWL_STYLE) & WS_CHILD)) break;
  }
  return nullptr;
}

FrmMain* FrmMain::Create(HWND parent, int x, int y) { return Create(parent, x, y, MakeControl(), nullptr); }

FrmMain* FrmMain::Create(HWND parent, int x, int y, std::shared_ptr<ProfileControl> control, FormOwner* owner) {
  if (!control || !registerWindowClass(&FrmMain::WndProc)) return nullptr;
  // The window takes the object over in WM_NCCREATE and deletes it in
  // WM_NCDESTROY, also when its creation fails later on; before that, the
  // owner here deletes it.
  std::unique_ptr<FrmMain> owned(new FrmMain(std::move(control), owner));
  FrmMain* self = owned.get();
  const SIZE size = DefaultSize();
  HWND hwnd = ::CreateWindowExW(WS_EX_CONTROLPARENT, ClassName(), L"frmMain",
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, x, y, size.cx, size.cy,
                                parent, nullptr, ModuleInstance(), &owned);
  return hwnd ? self : nullptr;
}

LRESULT CALLBACK FrmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  FrmMain* self = FromWindow(hwnd);
  if (msg == WM_NCCREATE) {
    auto* owned = static_cast<std::unique_ptr<FrmMain>*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self = owned->release();
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete self;  // a dispatch still on the stack holds its own reference to the control
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
  // The owner lives until the handler returns, whatever the container does
  // meanwhile; letting it go may then destroy this window, after which
  // nothing here touches self.
  const ComPtr<IUnknown> hold = ComPtr<IUnknown>::Retain(self->owner_ ? self->owner_->unknown() : nullptr);
  try {
    return self->handle(msg, wp, lp);
  } catch (...) {
    // Nothing may escape into the host's message loop; a window whose
    // creation failed half-way is not created at all.
    return msg == WM_CREATE ? -1 : 0;
  }
}

// A switch that only dispatches.
LRESULT FrmMain::handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      return onCreate();
    case WM_DESTROY:
      return onDestroy();
    case WM_COMMAND:
      return onCommandMessage(LOWORD(wp), HIWORD(wp));
    case WM_NOTIFY:
      return onNotify(*reinterpret_cast<NMHDR*>(lp));
    case kMsgInitialUpload:
      return onInitialUpload();
    case WM_SYSCHAR:
      return onSysChar(wp, lp);
    default:
      return ::DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

LRESULT FrmMain::onSysChar(WPARAM wp, LPARAM lp) {
  return handleAccessKey(static_cast<wchar_t>(wp)) ? 0 : ::DefWindowProcW(hwnd_, WM_SYSCHAR, wp, lp);
}

LRESULT FrmMain::onCreate() {
  createFont();
  createChildren();
  fitCaptions();
  createTabs();
  createTooltips();
  // The control may be older than this window: it shows what it has.
  control_->attachView(this, this);
  return 0;
}

LRESULT FrmMain::onDestroy() {
  if (ownsControl_)
    control_->close();
  else
    control_->detachView();
  if (tabs_) ::RemoveWindowSubclass(tabs_, &FrmMain::TabsProc, kTabsSubclassId);
  // The tooltip is a popup: its owner is the top-level window around us,
  // not this child, so it would outlive the form in a container that stays.
  if (tooltip_) ::DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  font_.reset();
  return 0;
}

LRESULT FrmMain::onCommandMessage(int id, int code) {
  if (id == kIdCommand1 && code == BN_CLICKED) {
    auto keep = control_;  // this window may be gone when it returns
    keep->onCommand();
  } else if (id == kIdLstInfo && (code == LBN_SELCHANGE || code == LBN_DBLCLK)) {
    onListLine(code == LBN_DBLCLK);
  }
  return 0;  // btnAbout does nothing
}

LRESULT FrmMain::onNotify(NMHDR& nm) {
  if (nm.hwndFrom == tabs_ && nm.code == TCN_SELCHANGE) onTabChanged();
  else if (nm.hwndFrom == tabs_ && nm.code == NM_CLICK) onTabClicked();
  else if (nm.code == TTN_GETDISPINFOW) return onTooltipText(reinterpret_cast<NMTTDISPINFOW&>(nm));
  return 0;
}

LRESULT FrmMain::onTooltipText(NMTTDISPINFOW& info) {
  HWND tabTips = reinterpret_cast<HWND>(::SendMessageW(tabs_, TCM_GETTOOLTIPS, 0, 0));
  if (info.hdr.hwndFrom == tabTips && info.hdr.idFrom < tabTooltips().size())
    info.lpszText = const_cast<wchar_t*>(tabTooltips()[info.hdr.idFrom].c_str());
  else if (info.hdr.hwndFrom == tooltip_)
    info.lpszText = listTip_.empty() ? nullptr : listTip_.data();
  return 0;
}

LRESULT FrmMain::onInitialUpload() {
  if (initialUploadPending_) {
    initialUploadPending_ = false;
    auto keep = control_;
    keep->onCommand();  // this window may be gone afterwards
  }
  return 0;
}

void FrmMain::createFont() {
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
    font_.reset(::CreateFontIndirectW(&ncm.lfMessageFont));
}

void FrmMain::createChildren() {
  HINSTANCE inst = ModuleInstance();
  auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, const Twips& t, int id) {
    const RECT r = toPixels(t);
    HWND h = ::CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
    if (h && font_) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
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
  // The tab strip lies under the list and the text box.
  ::SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Captions must fit in the host's font: a button or label grows to the right
// when its text is wider than the form's size for it.
void FrmMain::fitCaptions() {
  for (HWND h : {label_, command_, about_}) {
    wchar_t text[128] = {};
    const int n = ::GetWindowTextW(h, text, 128);
    std::wstring shown;
    for (int i = 0; i < n; ++i)
      if (text[i] != L'&' || (i + 1 < n && text[i + 1] == L'&')) shown += text[i];
    const WindowDc dc(h);
    if (!dc) continue;
    HGDIOBJ old = font_ ? ::SelectObject(dc.get(), font_.get()) : nullptr;
    SIZE ext{};
    ::GetTextExtentPoint32W(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &ext);
    if (old) ::SelectObject(dc.get(), old);
    RECT r;
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    const int need = ext.cx + (h == label_ ? 4 : 16);
    if (need > r.right - r.left) ::MoveWindow(h, r.left, r.top, need, r.bottom - r.top, FALSE);
  }
}

// The seven tabs, the control's selected one shown; the mouse on the strip is
// watched for clicks on the tab already selected.
void FrmMain::createTabs() {
  int i = 0;
  for (const form::Tab& t : form::Tabs()) {
    std::wstring caption = Wide(t.caption);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(i++), reinterpret_cast<LPARAM>(&item));
  }
  ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(control_->selectedTab()), 0);
  ::SetWindowSubclass(tabs_, &FrmMain::TabsProc, kTabsSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void FrmMain::createTooltips() {
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               ModuleInstance(), nullptr);
  if (!tooltip_) return;
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

// Before the tab strip sees the button go down: is it on the selected tab?
LRESULT CALLBACK FrmMain::TabsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  if (msg == WM_LBUTTONDOWN) {
    auto* self = reinterpret_cast<FrmMain*>(data);
    TCHITTESTINFO hit{{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}, 0};
    const auto tab = ::SendMessageW(hwnd, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    self->pressedOnSelectedTab_ = tab >= 0 && tab == ::SendMessageW(hwnd, TCM_GETCURSEL, 0, 0);
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

void FrmMain::onListLine(bool doubleClick) {
  const int sel = static_cast<int>(::SendMessageW(list_, LB_GETCURSEL, 0, 0));
  auto keep = control_;
  if (sel < 0 || sel >= keep->list().count()) return;
  keep->list().setSelectedIndex(sel);
  if (doubleClick)
    keep->onListDoubleClick();
  else
    keep->onListClick();
}

void FrmMain::onTabChanged() {
  // Keeps the control alive through the dispatch even if this window goes.
  auto keep = control_;
  keep->setSelectedTab(static_cast<int>(::SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
  if (initialUploadPending_) {
    // The initialisation comes before anything else the control does.
    initialUploadPending_ = false;
    keep->onCommand();
  }
  keep->dispatch();  // does nothing once the control is closed
}

// A click on the tab already selected refreshes its section, as the
// selection of another tab does (and as its access key does).
void FrmMain::onTabClicked() {
  if (!pressedOnSelectedTab_) return;
  pressedOnSelectedTab_ = false;
  onTabChanged();
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

bool FrmMain::translateKey(const MSG& msg) {
  if (msg.hwnd != hwnd_ && !::IsChild(hwnd_, msg.hwnd)) return false;
  if (msg.message == WM_SYSCHAR) return handleAccessKey(static_cast<wchar_t>(msg.wParam));
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB)
    return ::IsDialogMessageW(hwnd_, const_cast<MSG*>(&msg)) != FALSE;
  return false;
}

bool FrmMain::translatePumpedKey(MSG& msg) { return owner_ ? owner_->translatePumpedKey(msg) : translateKey(msg); }

void FrmMain::selectTab(int index) {
  ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  onTabChanged();
}

void FrmMain::setTabsEnabled(bool enabled) { ::EnableWindow(tabs_, enabled); }
void FrmMain::setAboutEnabled(bool enabled) { ::EnableWindow(about_, enabled); }
void FrmMain::setCommandEnabled(bool enabled) { ::EnableWindow(command_, enabled); }
void FrmMain::setDescText(const std::string& text) { ::SetWindowTextW(desc_, Wide(text).c_str()); }

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
  if (const WindowDc dc(list_); dc) {
    HGDIOBJ old = font_ ? ::SelectObject(dc.get(), font_.get()) : nullptr;
    SIZE s{};
    if (::GetTextExtentPoint32W(dc.get(), w.c_str(), static_cast<int>(w.size()), &s) && s.cx + 8 > listExtent_) {
      listExtent_ = s.cx + 8;
      ::SendMessageW(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(listExtent_), 0);
    }
    if (old) ::SelectObject(dc.get(), old);
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

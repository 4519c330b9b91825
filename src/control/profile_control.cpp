#include "control/profile_control.h"

#include <exception>

#include "control/form.h"
#include "platform/text.h"

namespace tallowin {

ProfileControl::ProfileControl(Platform& platform, ControlView* view, UploadAction upload)
    : platform_(platform), view_(view), upload_(std::move(upload)) {}

void ProfileControl::yield() {
  platform_.DoEvents();
  if (closed_) throw DispatchAborted{};
}

SectionContext ProfileControl::sectionContext() {
  return SectionContext(platform_, list_, {flags_, interfaceAddresses, showingProgress}, [this] { yield(); });
}

void ProfileControl::attachView(ControlView* view, ReportListObserver* observer) {
  view_ = view;
  list_.setObserver(observer);
  if (observer) list_.replayTo(*observer);
  if (view_) {
    view_->setTabsEnabled(tabsEnabled_);
    view_->setCommandEnabled(commandEnabled_);
    view_->setAboutEnabled(aboutEnabled_);
  }
}

void ProfileControl::detachView() {
  view_ = nullptr;
  list_.setObserver(nullptr);
}

void ProfileControl::close() {
  closed_ = true;
  detachView();
}

void ProfileControl::enableTabs(bool enabled) {
  tabsEnabled_ = enabled;
  if (view_) view_->setTabsEnabled(enabled);
}

void ProfileControl::enableCommand(bool enabled) {
  commandEnabled_ = enabled;
  if (view_) view_->setCommandEnabled(enabled);
}

void ProfileControl::enableAbout(bool enabled) {
  aboutEnabled_ = enabled;
  if (view_) view_->setAboutEnabled(enabled);
}

std::string ProfileControl::selectedTabTag() const {
  const auto& tabs = form::Tabs();
  return selectedTab_ >= 0 && static_cast<size_t>(selectedTab_) < tabs.size() ? tabs[static_cast<size_t>(selectedTab_)].tag
                                                                                : std::string();
}

void ProfileControl::runGuarded(SectionCollector collector) { runGuarded(collector, sectionContext()); }

void ProfileControl::runGuarded(SectionCollector collector, SectionContext ctx) {
  try {
    collector(ctx);
  } catch (const DispatchAborted&) {
    throw;
  } catch (...) {
    // The collector's run ends here; its lines so far stay and the control
    // stays usable.
  }
}

void ProfileControl::runSection(const std::string& sectionKey) {
  if (SectionCollector c = FindCollector(sectionKey))
    runGuarded(c);
  else
    runCompleteProfile();
}

void ProfileControl::runCompleteProfile() { runCompleteProfile(list_, {flags_, interfaceAddresses, showingProgress}); }

void ProfileControl::runCompleteProfile(ReportList& list, SectionState state) {
  const SectionContext ctx(platform_, list, state, [this] { yield(); });
  const auto& table = DispatchTable();
  for (size_t i = 0; i < table.size(); ++i) {
    runGuarded(table[i].collector, ctx);
    const std::string key = table[i].key;
    if (key == "PRINTERS") break;  // the last section: nothing after it
    list.append("");
    if (key != "UI") yield();
  }
}

void ProfileControl::dispatch() { dispatchSection(std::nullopt); }

void ProfileControl::dispatch(const std::string& tag) { dispatchSection(tag); }

void ProfileControl::dispatchSection(const std::optional<std::string>& tag) {
  if (dispatching_ || uploadCollecting_ || closed_) return;
  dispatching_ = true;
  try {
    // The window may go (and another come) at any yield: every step asks
    // for the window anew.
    enableTabs(false);
    enableCommand(false);
    list_.clear();
    if (view_) view_->setDescText("");
    list_.setEnabled(false);
    enableAbout(false);
    yield();
    const std::string key = ToUpperAscii(tag ? *tag : selectedTabTag());
    shownTag_ = key;
    runSection(key);
    if (closed_) throw DispatchAborted{};
    list_.setEnabled(true);
    enableAbout(true);
    if (list_.count() > 0) {
      list_.setSelectedIndex(0);
      onListClick();
    }
    if (!uploading_) enableCommand(true);
    enableTabs(true);
    if (view_) view_->focusTabs();
  } catch (const DispatchAborted&) {
    // Closed: nothing of the window is touched.
  }
  dispatching_ = false;
}

void ProfileControl::onListClick() {
  if (view_) view_->setDescText("");
  const int i = list_.selectedIndex();
  if (i >= 0 && i < list_.count() && list_.itemValue(i) > 0) list_.setTooltip(list_.text(i));
}

void ProfileControl::onCommand() {
  if (closed_ || !upload_ || uploading_ || dispatching_) return;
  uploading_ = uploadCollecting_ = true;
  enableCommand(false);
  enableTabs(false);
  try {
    upload_(*this);
  } catch (...) {
    // Every failure of the upload is silent.
  }
  uploadCollected();
  uploading_ = false;
  if (!dispatching_) enableCommand(true);
}

void ProfileControl::uploadCollected() {
  if (!uploadCollecting_) return;
  uploadCollecting_ = false;
  if (!dispatching_) enableTabs(true);
}

}  // namespace tallowin

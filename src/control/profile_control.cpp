#include "control/profile_control.h"

#include <exception>

#include "platform/text.h"
#include "sections/sections.h"

namespace tallowin {

const std::vector<SectionEntry>& DispatchTable() {
  static const std::vector<SectionEntry> table = {
      {"OS", CollectOperatingSystem}, {"PROGS", CollectPrograms}, {"CPU", CollectProcessor},
      {"POWER", CollectPower},        {"MEMORY", CollectMemory},  {"PORTS", CollectPorts},
      {"PCI", CollectPciBus},         {"SCSI", CollectScsiBus},   {"USB", CollectUsbBus},
      {"FIREWIRE", CollectFireWireBus}, {"PCMCIA", CollectPcmciaBus}, {"NETWORK", CollectNetwork},
      {"UI", CollectUserInterface},   {"LOCALE", CollectLocale},  {"TIME", CollectTime},
      {"PRINTERS", CollectPrinters},
  };
  return table;
}

SectionCollector FindCollector(const std::string& sectionKey) {
  for (const SectionEntry& e : DispatchTable())
    if (sectionKey == e.key) return e.collector;
  return nullptr;
}

ProfileControl::ProfileControl(Platform& platform, ControlView* view) : platform_(platform), view_(view) {}

void ProfileControl::yield() {
  platform_.DoEvents();
  if (detached_) throw DispatchAborted{};
}

void ProfileControl::showProgressLine() {
  if (list_.count() != 0) return;
  list_.clear();
  list_.append("Working ...");
  yield();
  showingProgress = true;
}

void ProfileControl::removeProgressLine() {
  if (!showingProgress) return;
  list_.clear();
  showingProgress = false;
}

void ProfileControl::detachView() {
  detached_ = true;
  view_ = nullptr;
  list_.setObserver(nullptr);
}

void ProfileControl::runGuarded(SectionCollector collector) {
  try {
    collector(*this);
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

void ProfileControl::runCompleteProfile() {
  const auto& table = DispatchTable();
  for (size_t i = 0; i < table.size(); ++i) {
    runGuarded(table[i].collector);
    const std::string key = table[i].key;
    if (key == "PRINTERS") break;  // the last section: nothing after it
    list_.append("");
    if (key != "UI") yield();
  }
}

void ProfileControl::dispatch() {
  if (dispatching_ || uploadCollecting_ || detached_) return;
  dispatching_ = true;
  try {
    if (view_) view_->setTabsEnabled(false);
    if (view_) view_->setCommandEnabled(false);
    list_.clear();
    if (view_) view_->setDescText("");
    list_.setEnabled(false);
    if (view_) view_->setAboutEnabled(false);
    yield();
    const std::string key = ToUpperAscii(view_ ? view_->selectedTabTag() : std::string());
    runSection(key);
    if (detached_) throw DispatchAborted{};
    list_.setEnabled(true);
    if (view_) view_->setAboutEnabled(true);
    if (list_.count() > 0) {
      list_.setSelectedIndex(0);
      onListClick();
    }
    if (view_) {
      if (!uploading_) view_->setCommandEnabled(true);
      view_->setTabsEnabled(true);
      view_->focusTabs();
    }
  } catch (const DispatchAborted&) {
    // The window is gone; nothing of it is touched.
  }
  dispatching_ = false;
}

void ProfileControl::onListClick() {
  if (view_) view_->setDescText("");
  const int i = list_.selectedIndex();
  if (i >= 0 && i < list_.count() && list_.itemValue(i) > 0) list_.setTooltip(list_.text(i));
}

void ProfileControl::onCommand() {
  if (detached_ || !uploadAction || uploading_ || dispatching_) return;
  uploading_ = uploadCollecting_ = true;
  if (view_) {
    view_->setCommandEnabled(false);
    view_->setTabsEnabled(false);
  }
  try {
    uploadAction(*this);
  } catch (...) {
    // Every failure of the upload is silent.
  }
  uploadCollected();
  uploading_ = false;
  if (view_ && !dispatching_) view_->setCommandEnabled(true);
}

void ProfileControl::uploadCollected() {
  if (!uploadCollecting_) return;
  uploadCollecting_ = false;
  if (view_ && !dispatching_) view_->setTabsEnabled(true);
}

}  // namespace tallowin

#include "control/report_list.h"

#include <stdexcept>

namespace tallowin {

void ReportList::clear() {
  lines_.clear();
  selected_ = -1;
  if (observer_) observer_->onCleared();
}

int ReportList::append(std::string text, int32_t itemValue) {
  lines_.push_back({std::move(text), itemValue});
  const int index = count() - 1;
  if (observer_) {
    observer_->onAppended(index, lines_.back().text);
    if (itemValue != 0) observer_->onItemValue(index, itemValue);
  }
  return index;
}

void ReportList::setItemValue(int index, int32_t value) {
  lines_.at(static_cast<size_t>(index)).itemValue = value;
  if (observer_) observer_->onItemValue(index, value);
}

void ReportList::setSelectedIndex(int index) {
  if (index < -1 || index >= count()) throw std::out_of_range("ReportList::setSelectedIndex");
  selected_ = index;
  if (observer_) observer_->onSelected(index);
}

void ReportList::setTooltip(std::string text) {
  tooltip_ = std::move(text);
  if (observer_) observer_->onTooltip(tooltip_);
}

void ReportList::setEnabled(bool enabled) {
  enabled_ = enabled;
  if (observer_) observer_->onEnabled(enabled);
}

void ReportList::replayTo(ReportListObserver& observer) const {
  observer.onCleared();
  for (size_t i = 0; i < lines_.size(); ++i) {
    const int index = static_cast<int>(i);
    observer.onAppended(index, lines_[i].text);
    if (lines_[i].itemValue != 0) observer.onItemValue(index, lines_[i].itemValue);
  }
  if (selected_ >= 0) observer.onSelected(selected_);
  if (!tooltip_.empty()) observer.onTooltip(tooltip_);
  observer.onEnabled(enabled_);
}

}  // namespace tallowin

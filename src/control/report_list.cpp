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

}  // namespace tallowin

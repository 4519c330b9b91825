// The lines of the list box lstInfo: text and a 32-bit item value each, the
// selected index, the list's tooltip and whether it is enabled. The window
// mirrors it through an observer; the console and the upload read it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowin {

class ReportListObserver {
 public:
  virtual ~ReportListObserver() = default;
  virtual void onCleared() = 0;
  virtual void onAppended(int index, const std::string& text) = 0;
  virtual void onItemValue(int index, int32_t value) = 0;
  virtual void onSelected(int index) = 0;
  virtual void onTooltip(const std::string& text) = 0;
  virtual void onEnabled(bool enabled) = 0;
};

class ReportList {
 public:
  struct Line {
    std::string text;
    int32_t itemValue = 0;
  };

  void clear();
  // Appends a line and returns its index.
  int append(std::string text, int32_t itemValue = 0);
  int count() const { return static_cast<int>(lines_.size()); }
  const std::string& text(int index) const { return lines_.at(static_cast<size_t>(index)).text; }
  int32_t itemValue(int index) const { return lines_.at(static_cast<size_t>(index)).itemValue; }
  void setItemValue(int index, int32_t value);
  int selectedIndex() const { return selected_; }
  void setSelectedIndex(int index);
  const std::string& tooltip() const { return tooltip_; }
  void setTooltip(std::string text);
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled);
  const std::vector<Line>& lines() const { return lines_; }

  void setObserver(ReportListObserver* observer) { observer_ = observer; }
  // Tells observer the whole list as it stands (a window made after the lines
  // were added).
  void replayTo(ReportListObserver& observer) const;

 private:
  std::vector<Line> lines_;
  int selected_ = -1;
  std::string tooltip_;
  bool enabled_ = true;
  ReportListObserver* observer_ = nullptr;
};

}  // namespace tallowin

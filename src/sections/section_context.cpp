#include "sections/section_context.h"

namespace tallowin {

void SectionContext::showProgressLine() const {
  if (list_.count() != 0) return;
  list_.clear();
  list_.append("Working ...");
  yield();
  state_.showingProgress = true;
}

void SectionContext::removeProgressLine() const {
  if (!state_.showingProgress) return;
  list_.clear();
  state_.showingProgress = false;
}

}  // namespace tallowin

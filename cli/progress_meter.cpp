#include "cli/progress_meter.h"

#include <algorithm>
#include <string>

namespace korvane {

namespace {
constexpr int kBarWidth = 20;
// Save the cursor, draw, put the cursor back; erase from the cursor on.
constexpr const char* kSaveCursor =
    "\x1b"
    "7";
constexpr const char* kRestoreCursor =
    "\x1b"
    "8";
constexpr const char* kEraseToEnd = "\x1b[K";
}  // namespace

void ProgressMeter::SetRange(int low, int high) {
  low_ = low;
  high_ = std::max(high, low);
  Draw();
}

void ProgressMeter::SetPosition(int position) {
  position_ = position;
  Draw();
}

void ProgressMeter::Enable(bool enabled) {
  barEnabled_ = enabled;
  if (enabled)
    Draw();
  else
    Hide();
}

void ProgressMeter::Hide() {
  if (!enabled_ || !shown_)
    return;
  out_ << kEraseToEnd << std::flush;
  shown_ = false;
}

void ProgressMeter::Draw() {
  if (!enabled_ || !barEnabled_)
    return;
  const int span = high_ - low_;
  const int clamped = std::clamp(position_, low_, high_);
  const int filled = span > 0 ? (clamped - low_) * kBarWidth / span : 0;
  out_ << kSaveCursor << kEraseToEnd << "  [" << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << clamped - low_
       << '/' << span << kRestoreCursor << std::flush;
  shown_ = true;
}

}  // namespace korvane

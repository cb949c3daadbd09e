// The progress bar on a terminal: drawn just after the cursor, which stays
// where the log's text ends, so the log and the bar can share one screen.
// Whoever prints the log hides the bar first and draws it again after.
#pragma once

#include <ostream>

namespace korvane {

class ProgressMeter {
 public:
  // Draws nothing unless enabled: a bar is only for a terminal.
  ProgressMeter(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

  void SetRange(int low, int high);
  void SetPosition(int position);
  void Step() { SetPosition(position_ + 1); }
  void Enable(bool enabled);

  void Hide();
  void Draw();

  int Position() const { return position_; }

 private:
  std::ostream& out_;
  const bool enabled_;
  bool shown_ = false;
  bool barEnabled_ = true;
  int low_ = 0, high_ = 100, position_ = 0;
};

}  // namespace korvane

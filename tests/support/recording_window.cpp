#include "tests/support/recording_window.h"

#include <stdexcept>

#include <chrono>

namespace korvane::testing {

void RecordingWindow::Record(WindowOp op) {
  ops_.push_back(std::move(op));
}

void RecordingWindow::LogSetSelection(std::size_t from, std::size_t to) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kLogSelect, static_cast<long>(from), static_cast<long>(to), {}});
  selFrom_ = std::min(from, control_.size());
  selTo_ = std::min(to, control_.size());
}

void RecordingWindow::LogReplaceSelection(std::string_view text) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kLogReplace, 0, 0, std::string(text)});
  control_.replace(selFrom_, selTo_ - selFrom_, text);
  selFrom_ = selTo_ = selFrom_ + text.size();
}

void RecordingWindow::LogScrollCaret() {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kLogScroll, 0, 0, {}});
}

void RecordingWindow::ProgressSetRange(int low, int high) {
  if (rangeThrows)
    throw std::runtime_error("the window broke down");
  std::lock_guard lock(mutex_);
  Record({WindowOp::kProgressRange, low, high, {}});
  progressLow_ = low;
  progressHigh_ = high;
}

void RecordingWindow::ProgressSetPosition(int position) {
  if (positionThrows == position)
    throw std::runtime_error("the window broke down");
  std::lock_guard lock(mutex_);
  Record({WindowOp::kProgressPosition, position, 0, {}});
  progressPos_ = position;
}

void RecordingWindow::ProgressStep() {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kProgressStep, 0, 0, {}});
  ++progressPos_;
}

void RecordingWindow::ProgressEnable(bool enabled) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kProgressEnable, enabled ? 1 : 0, 0, {}});
  progressEnabled_ = enabled;
}

void RecordingWindow::SetButtonText(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kButtonText, id, 0, std::string(text)});
  texts_[id] = std::string(text);
}

void RecordingWindow::ShowButton(int id) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kButtonShow, id, 0, {}});
  visible_[id] = true;
}

void RecordingWindow::HideButton(int id) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kButtonHide, id, 0, {}});
  visible_[id] = false;
}

void RecordingWindow::SetWaitCursor() {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kWaitCursor, 0, 0, {}});
  waitCursor_ = true;
}

void RecordingWindow::RestoreCursor() {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kRestoreCursor, 0, 0, {}});
  waitCursor_ = false;
}

void RecordingWindow::PostStep(int step) {
  {
    std::lock_guard lock(mutex_);
    Record({WindowOp::kPostStep, step, 0, {}});
    pending_.push_back(step);
    allPosted_.push_back(step);
  }
  posted_.notify_all();
}

std::optional<std::string> RecordingWindow::ChooseUpdateFile() {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kChooseFile, 0, 0, {}});
  return fileAnswer;
}

DeviceChoice RecordingWindow::ChooseDevice(const std::vector<FoundDevice>& devices,
                                           const std::string& filePath) {
  std::lock_guard lock(mutex_);
  std::string entries;
  for (const std::string& entry : DeviceEntries(devices))
    entries += entry + "\n";
  Record({WindowOp::kChooseDevice, 0, 0, entries});
  lastDevices_ = devices;
  lastDevicePath_ = filePath;
  return deviceAnswer;
}

bool RecordingWindow::AskOkCancel(std::string_view caption, std::string_view text) {
  std::lock_guard lock(mutex_);
  Record({WindowOp::kAsk, 0, 0, std::string(caption) + "|" + std::string(text)});
  return askAnswer;
}

std::vector<WindowOp> RecordingWindow::Ops() const {
  std::lock_guard lock(mutex_);
  return ops_;
}

std::string RecordingWindow::ControlText() const {
  std::lock_guard lock(mutex_);
  return control_;
}

bool RecordingWindow::ButtonVisible(int id) const {
  std::lock_guard lock(mutex_);
  auto it = visible_.find(id);
  return it != visible_.end() && it->second;
}

std::string RecordingWindow::ButtonText(int id) const {
  std::lock_guard lock(mutex_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

int RecordingWindow::ProgressPosition() const {
  std::lock_guard lock(mutex_);
  return progressPos_;
}

int RecordingWindow::ProgressLow() const {
  std::lock_guard lock(mutex_);
  return progressLow_;
}

int RecordingWindow::ProgressHigh() const {
  std::lock_guard lock(mutex_);
  return progressHigh_;
}

bool RecordingWindow::ProgressEnabled() const {
  std::lock_guard lock(mutex_);
  return progressEnabled_;
}

bool RecordingWindow::WaitCursorShown() const {
  std::lock_guard lock(mutex_);
  return waitCursor_;
}

std::vector<FoundDevice> RecordingWindow::LastDevices() const {
  std::lock_guard lock(mutex_);
  return lastDevices_;
}

std::string RecordingWindow::LastDevicePath() const {
  std::lock_guard lock(mutex_);
  return lastDevicePath_;
}

std::optional<int> RecordingWindow::TakePostedStep() {
  std::lock_guard lock(mutex_);
  if (pending_.empty())
    return std::nullopt;
  int step = pending_.front();
  pending_.pop_front();
  return step;
}

std::optional<int> RecordingWindow::WaitForPostedStep(int timeoutMs) {
  std::unique_lock lock(mutex_);
  posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pending_.empty(); });
  if (pending_.empty())
    return std::nullopt;
  int step = pending_.front();
  pending_.pop_front();
  return step;
}

std::vector<int> RecordingWindow::PostedSteps() const {
  std::lock_guard lock(mutex_);
  return allPosted_;
}

void RecordingWindow::ClearOps() {
  std::lock_guard lock(mutex_);
  ops_.clear();
}

}  // namespace korvane::testing

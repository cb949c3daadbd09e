#include "web/page/web_window.h"

#include <algorithm>

// page.js: run on the browser's main thread, the calling thread waiting.
extern "C" {
void korvane_page_log(const char* text);
void korvane_page_scroll_log();
void korvane_page_progress(int low, int high, int position, int enabled);
void korvane_page_button(int id, const char* text, int visible);
void korvane_page_cursor(int wait);
void korvane_page_choose_device(const char* entries, const char* path);
int korvane_page_ask(const char* caption, const char* text);
}

namespace korvane::web {

void WebWindow::SetUpdateFile(std::string path) {
  std::lock_guard lock(mutex_);
  file_ = std::move(path);
}

void WebWindow::AnswerDevice(DeviceChoice choice) {
  {
    std::lock_guard lock(mutex_);
    answer_ = choice;
  }
  answered_.notify_all();
}

void WebWindow::LogSetSelection(std::size_t from, std::size_t to) {
  std::lock_guard lock(mutex_);
  selFrom_ = std::min(from, control_.size());
  selTo_ = std::max(selFrom_, std::min(to, control_.size()));
}

void WebWindow::LogReplaceSelection(std::string_view text) {
  std::string shown;
  {
    std::lock_guard lock(mutex_);
    control_.replace(selFrom_, selTo_ - selFrom_, text);
    selFrom_ = selTo_ = selFrom_ + text.size();
    shown = control_;
  }
  korvane_page_log(shown.c_str());
}

void WebWindow::LogScrollCaret() {
  korvane_page_scroll_log();
}

void WebWindow::ShowProgress() {
  int low, high, position;
  bool enabled;
  {
    std::lock_guard lock(mutex_);
    low = low_, high = high_, position = position_, enabled = enabled_;
  }
  korvane_page_progress(low, high, position, enabled ? 1 : 0);
}

void WebWindow::ProgressSetRange(int low, int high) {
  {
    std::lock_guard lock(mutex_);
    low_ = low, high_ = high;
    position_ = std::clamp(position_, low, std::max(low, high));
  }
  ShowProgress();
}

void WebWindow::ProgressSetPosition(int position) {
  {
    std::lock_guard lock(mutex_);
    position_ = std::clamp(position, low_, std::max(low_, high_));
  }
  ShowProgress();
}

void WebWindow::ProgressStep() {
  {
    std::lock_guard lock(mutex_);
    position_ = std::min(position_ + 1, std::max(low_, high_));
  }
  ShowProgress();
}

void WebWindow::ProgressEnable(bool enabled) {
  {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
  }
  ShowProgress();
}

void WebWindow::SetButtonText(int id, std::string_view text) {
  korvane_page_button(id, std::string(text).c_str(), -1);
}
void WebWindow::ShowButton(int id) {
  korvane_page_button(id, nullptr, 1);
}
void WebWindow::HideButton(int id) {
  korvane_page_button(id, nullptr, 0);
}
void WebWindow::SetWaitCursor() {
  korvane_page_cursor(1);
}
void WebWindow::RestoreCursor() {
  korvane_page_cursor(0);
}

void WebWindow::PostStep(int step) {
  events_.Push({PageEvent::kStep, step});
}

std::optional<std::string> WebWindow::ChooseUpdateFile() {
  std::lock_guard lock(mutex_);
  std::optional<std::string> file = std::move(file_);
  file_.reset();
  return file;
}

DeviceChoice WebWindow::ChooseDevice(const std::vector<FoundDevice>& devices,
                                     const std::string& filePath) {
  std::string entries;
  for (const std::string& entry : DeviceEntries(devices))
    entries += entry + '\n';
  {
    std::lock_guard lock(mutex_);
    answer_.reset();
  }
  korvane_page_choose_device(entries.c_str(), filePath.c_str());
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&] { return answer_.has_value(); });
  return *answer_;
}

bool WebWindow::AskOkCancel(std::string_view caption, std::string_view text) {
  return korvane_page_ask(std::string(caption).c_str(), std::string(text).c_str()) != 0;
}

}  // namespace korvane::web

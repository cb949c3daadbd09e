#include "midi/backend_notice.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

namespace korvane {
namespace {

struct Notices {
  std::mutex mutex;
  BackendNoticeSink sink;
  std::set<std::string> given;
};

Notices& State() {
  static Notices notices;
  return notices;
}

}  // namespace

void SetBackendNoticeSink(BackendNoticeSink sink) {
  Notices& notices = State();
  std::lock_guard lock(notices.mutex);
  notices.sink = std::move(sink);
}

void BackendNotice(const std::string& text) {
  Notices& notices = State();
  BackendNoticeSink sink;
  {
    std::lock_guard lock(notices.mutex);
    if (!notices.given.insert(text).second)
      return;
    sink = notices.sink;
  }
  // Called outside the lock: a sink that waits for the window thread must not
  // keep that thread from replacing the sink.
  if (sink) {
    sink(text);
  } else {
    const std::string line = text + '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);  // one write: other threads cannot tear it
  }
}

}  // namespace korvane

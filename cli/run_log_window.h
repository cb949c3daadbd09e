// The window seam of one run among several (korvane-flash --all): its log is
// printed line by line, each line after the run's prefix, on an output the
// runs share; nothing else is shown and nothing is asked.
#pragma once

#include <mutex>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/log_echo.h"
#include "run/null_window.h"

namespace korvane {

// The shared output: whole lines, one run's at a time.
class SharedLines {
 public:
  explicit SharedLines(std::ostream& out) : out_(out) {}
  void Write(const std::string& prefix, const std::string& line);

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

class RunLogWindow final : public NullWindow {
 public:
  // lines: none prints nothing. printFromStart: false holds every line back
  // until PrintFromHere.
  RunLogWindow(SharedLines* lines, std::string prefix, bool printFromStart = true);

  // Lines are printed from here on; the log so far is not (a run's copy of
  // the scan's log, which was printed once for all runs).
  void PrintFromHere();
  // Prints the last line still held back.
  void Finish();

  void LogSetSelection(std::size_t from, std::size_t to) override;
  void LogReplaceSelection(std::string_view text) override;

 private:
  void Flush();

  SharedLines* lines_;
  const std::string prefix_;
  // What the echo printed and no line of the shared output holds yet.
  std::ostringstream pending_;
  LogEcho echo_{pending_, false};
  bool printing_;
};

}  // namespace korvane

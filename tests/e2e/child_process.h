// A program run as a real child process for the end-to-end tests: its
// standard output and error go to files, its standard input is /dev/null
// unless a test gives it a terminal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // a child still running is killed and reaped
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Empty on success, else why the program could not be started. Its input
  // is stdinPath (a terminal's device, to seem typed at).
  std::string Start(const std::vector<std::string>& args, const std::string& outputPrefix,
                    const std::string& stdinPath = "/dev/null");

  void Signal(int signal) const;
  // The exit status once the child has ended, nothing if it did not end by
  // the deadline (the deadline guards against a hang, it measures nothing) or
  // ended by a signal.
  std::optional<int> Wait(std::chrono::seconds deadline);
  // For a failure message: how the last Wait found the child.
  const std::string& HowItEnded() const { return ending_; }

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  std::string stdoutPath_;
  std::string stderrPath_;
  std::string ending_ = "not waited for";
};

std::string ReadFile(const std::string& path);

// Runs a program to its end; its exit status (or -1) and what it printed.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult RunToEnd(const std::vector<std::string>& args, const std::string& outputPrefix,
                   std::chrono::seconds deadline);

}  // namespace korvane::testing

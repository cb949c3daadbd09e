#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace korvane::testing {

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

std::string ChildProcess::Start(const std::vector<std::string>& args,
                                const std::string& outputPrefix, const std::string& stdinPath) {
  stdoutPath_ = outputPrefix + ".out";
  stderrPath_ = outputPrefix + ".err";
  std::vector<char*> argv;
  for (const auto& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdinPath.c_str(), O_RDWR, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return "cannot start " + args.front();
  }
  return {};
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0)
    kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::seconds deadline) {
  if (pid_ <= 0)
    return std::nullopt;
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) {
        ending_ = "exited with status " + std::to_string(WEXITSTATUS(status));
        return WEXITSTATUS(status);
      }
      ending_ = "killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                strsignal(WTERMSIG(status)) + ")" + (WCOREDUMP(status) ? ", core dumped" : "");
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= end) {
      ending_ = "still running after " + std::to_string(deadline.count()) + " s";
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ChildProcess::Stdout() const {
  return ReadFile(stdoutPath_);
}
std::string ChildProcess::Stderr() const {
  return ReadFile(stderrPath_);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult RunToEnd(const std::vector<std::string>& args, const std::string& outputPrefix,
                   std::chrono::seconds deadline) {
  RunResult result;
  ChildProcess child;
  if (!child.Start(args, outputPrefix).empty())
    return result;
  result.status = child.Wait(deadline).value_or(-1);
  result.out = child.Stdout();
  result.err = child.Stderr();
  return result;
}

}  // namespace korvane::testing

#include "tests/gui/xvfb_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace korvane::testing {

namespace {

// Xvfb needs a few seconds on a loaded machine (it compiles its keymap).
constexpr std::chrono::seconds kStartTimeout{20};

}  // namespace

XvfbDisplay::~XvfbDisplay() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string XvfbDisplay::Start(std::string& reason) {
  // -displayfd: Xvfb chooses a free display, and writes its number and a
  // newline to this pipe once it accepts clients.
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    reason = std::string("pipe: ") + std::strerror(errno);
    return {};
  }
  std::string fd = std::to_string(pipeFds[1]);
  std::vector<const char*> argv = {"Xvfb",        "-displayfd", fd.c_str(), "-screen", "0",
                                   "1024x768x24", "-nolisten",  "tcp",      nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr,
                              const_cast<char* const*>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    pid_ = -1;
    close(pipeFds[0]);
    reason = std::string("Xvfb cannot be started: ") + std::strerror(rc);
    return {};
  }

  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{pipeFds[0], POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0)));
    if (polled < 0 && errno == EINTR)
      continue;
    if (polled <= 0) {
      reason = "Xvfb reported no display within 20 s";
      break;
    }
    char c;
    const ssize_t got = read(pipeFds[0], &c, 1);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      reason = "Xvfb ended without a display";
      break;
    }
    if (c == '\n')
      break;
    number += c;
  }
  close(pipeFds[0]);
  if (!reason.empty() || number.empty()) {
    if (reason.empty())
      reason = "Xvfb reported an empty display number";
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return {};
  }
  return ":" + number;
}

}  // namespace korvane::testing

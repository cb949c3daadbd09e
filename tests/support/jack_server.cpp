#include "tests/support/jack_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace korvane::testing {
namespace {

// The dummy driver needs no sound card. A 1024-frame period gives each MIDI
// port buffer room for a few kilobytes, enough for one long SysEx.
constexpr const char* kSampleRate = "48000";
constexpr const char* kPeriod = "1024";
// jackd may need a few seconds on a loaded machine.
constexpr auto kStartTimeout = std::chrono::seconds(20);

pid_t Spawn(const std::vector<std::string>& args, bool quiet) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr)
    return false;
  std::string dirs(path);
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
      return true;
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return false;
}

// JACK keeps a registry of at most eight servers and frees the entry of a dead
// one only when a server of the same name starts. Names from a small pool,
// each held by a lock for as long as a test uses it, let the entries of
// killed servers be taken back instead of filling the registry for good.
constexpr int kNamePool = 8;

std::string PoolName(int slot) {
  return "korvane-test-" + std::to_string(slot);
}

// The lock is the file's descriptor: the kernel drops it when the process
// ends in any way.
int LockName(const std::string& name) {
  const std::string path = "/tmp/" + name + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool Accepting(const std::string& name) {
  const pid_t check = Spawn({"jack_wait", "-w", "-t", "1", "-s", name}, true);
  return check > 0 && WaitExit(check) == 0;
}

}  // namespace

JackServer::~JackServer() {
  Stop();
}

bool JackServer::Installed() {
  return OnPath("jackd") && OnPath("jack_wait");
}

std::string JackServer::Start() {
  if (pid_ > 0)
    return "already started";
  std::string why = "every server name is in use";
  for (int slot = 0; slot < kNamePool; ++slot) {
    name_ = PoolName(slot);
    lockFd_ = LockName(name_);
    if (lockFd_ < 0)
      continue;
    // A server left running by a test that died holds the name.
    if (!Accepting(name_)) {
      why = StartNamed();
      if (why.empty())
        return {};
    }
    close(lockFd_);
    lockFd_ = -1;
  }
  return why;
}

std::string JackServer::StartNamed() {
  pid_ = Spawn(
      {"jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r", kSampleRate, "-p", kPeriod},
      true);
  if (pid_ < 0)
    return "jackd could not be started";
  if (const char* old = std::getenv("JACK_DEFAULT_SERVER"))
    previousServer_ = old;
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);

  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      RestoreEnvironment();
      return "jackd exited before it accepted clients";
    }
    const pid_t check = Spawn({"jack_wait", "-w", "-t", "1", "-s", name_}, true);
    if (check > 0 && WaitExit(check) == 0)
      return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Stop();
  return "jackd did not accept clients in time";
}

void JackServer::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitExit(pid_);
    pid_ = -1;
  }
}

void JackServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitExit(pid_);
    pid_ = -1;
  }
  RestoreEnvironment();
  if (lockFd_ >= 0) {
    close(lockFd_);
    lockFd_ = -1;
  }
}

void JackServer::RestoreEnvironment() {
  if (previousServer_) {
    setenv("JACK_DEFAULT_SERVER", previousServer_->c_str(), 1);
    previousServer_.reset();
  } else {
    unsetenv("JACK_DEFAULT_SERVER");
  }
}

}  // namespace korvane::testing

// The full update's entry on Linux and macOS: RtMidi's MIDI system.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/all_command.h"
#include "cli/flash_command.h"
#include "cli/terminal_window.h"
#include "midi/platform_midi.h"

namespace korvane {

namespace {

// Takes SIGINT (Ctrl-C), SIGTERM and SIGHUP (the terminal went away) as a
// stop request: they are blocked in every thread and waited for on a thread
// of its own, so no handler runs. Made before any other thread (the MIDI
// system's) so that they all inherit the blocked signals. The thread sleeps
// in sigwait until a signal comes; at the end it is woken by a SIGUSR2 sent
// to it alone, never taken as a stop.
constexpr int kWakeSignal = SIGUSR2;

class SignalWatch final : public StopSource {
 public:
  SignalWatch();
  ~SignalWatch() override;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  void AttachAll(std::vector<std::atomic<bool>*> stopRequests) override;
  StopCause Cause() const override;
  // Called with mutex_ held.
  void RaiseAll() {
    for (std::atomic<bool>* target : targets_)
      target->store(true, std::memory_order_release);
  }
  bool Signalled() const { return signal_.load(std::memory_order_acquire) != 0; }
  // Becomes readable at the first stop signal, for a wait on the terminal.
  int SignalledFd() const { return pipe_[0]; }

 private:
  void Watch();

  int pipe_[2] = {-1, -1};
  sigset_t signals_;
  std::mutex mutex_;  // guards targets_
  std::vector<std::atomic<bool>*> targets_;
  std::atomic<int> signal_{0};  // the first signal that came
  std::atomic<bool> done_{false};
  std::thread thread_;
};

SignalWatch::SignalWatch() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  sigaddset(&signals_, SIGHUP);
  sigaddset(&signals_, kWakeSignal);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  // Without the pipe a prompt cannot be woken by a stop, only ended by input.
  if (pipe(pipe_) != 0)
    pipe_[0] = pipe_[1] = -1;
  thread_ = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
  done_ = true;
  pthread_kill(thread_.native_handle(), kWakeSignal);
  thread_.join();
  for (const int fd : pipe_) {
    if (fd >= 0)
      close(fd);
  }
}

void SignalWatch::AttachAll(std::vector<std::atomic<bool>*> stopRequests) {
  std::lock_guard<std::mutex> lock(mutex_);
  targets_ = std::move(stopRequests);
  if (Signalled())
    RaiseAll();
}

StopCause SignalWatch::Cause() const {
  switch (signal_.load(std::memory_order_acquire)) {
    case SIGINT:
      return {SIGINT, "Ctrl-C"};
    case SIGTERM:
      return {SIGTERM, "SIGTERM"};
    case SIGHUP:
      return {SIGHUP, "SIGHUP"};
    default:
      return {};
  }
}

void SignalWatch::Watch() {
  while (!done_) {
    int signal = 0;
    if (sigwait(&signals_, &signal) != 0 || signal == kWakeSignal)
      continue;
    std::lock_guard<std::mutex> lock(mutex_);
    // The runs' requests first: whoever sees Signalled() or the pipe must
    // find its run's request raised already.
    RaiseAll();
    if (signal_.load(std::memory_order_acquire) != 0)
      continue;
    signal_.store(signal, std::memory_order_release);
    if (pipe_[1] >= 0) {
      const char byte = 1;
      [[maybe_unused]] const ssize_t written = write(pipe_[1], &byte, 1);
    }
  }
}

// A line from the terminal, given up as soon as a stop was asked for: the
// prompt must not keep a stopped run waiting for Enter.
std::optional<std::string> ReadLineUnlessStopped(const SignalWatch& signals) {
  std::string line;
  for (;;) {
    if (signals.Signalled())
      return std::nullopt;
    pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {signals.SignalledFd(), POLLIN, 0}};
    const int ready = poll(waits, signals.SignalledFd() >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR)
      return std::nullopt;
    if (ready <= 0 || waits[1].revents != 0)
      continue;
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got <= 0)
      return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n')
      return line;
    line += c;
  }
}

}  // namespace

int RunFlashCommand(const FlashSettings& settings) {
  // Before the MIDI system starts its threads, so that they inherit the mask.
  SignalWatch signals;
  const std::unique_ptr<MidiServices> midi = MakePlatformMidiServices();
  TerminalSetup setup;
  setup.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  setup.progress = isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr;
  setup.device.device = settings.device;
  setup.device.askOnInput = isatty(STDIN_FILENO) == 1;
  setup.device.readLine = [&signals] { return ReadLineUnlessStopped(signals); };
  TerminalWindow window(std::cout, setup);
  return RunFlash(settings, *midi, window, signals, std::cerr);
}

int RunAllCommand(const AllSettings& settings) {
  SignalWatch signals;
  const std::unique_ptr<MidiServices> midi = MakePlatformMidiServices();
  return RunAll(settings, *midi, signals, std::cout, std::cerr);
}

}  // namespace korvane

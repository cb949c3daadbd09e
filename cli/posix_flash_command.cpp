// The full update's entry on Linux and macOS: RtMidi's MIDI system.
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/flash_command.h"
#include "cli/terminal_window.h"
#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {

namespace {

// Takes SIGINT (Ctrl-C) and SIGTERM as a stop request: both are blocked in
// every thread and waited for on a thread of its own, so no handler runs.
// Made before any other thread (the MIDI system's) so that they all inherit
// the blocked signals.
class SignalWatch final : public StopSource {
 public:
  SignalWatch();
  ~SignalWatch() override;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  void Attach(std::atomic<bool>* stopRequested) override;

 private:
  void Watch();

  sigset_t signals_;
  std::mutex mutex_;  // guards target_ and signalled_
  std::atomic<bool>* target_ = nullptr;
  bool signalled_ = false;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

SignalWatch::SignalWatch() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
  done_ = true;
  thread_.join();
}

void SignalWatch::Attach(std::atomic<bool>* stopRequested) {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = stopRequested;
  if (target_ && signalled_)
    target_->store(true, std::memory_order_release);
}

void SignalWatch::Watch() {
  // Looks now and then whether the run is over, so that the thread can end.
  const timespec poll{0, 50 * 1000 * 1000};
  while (!done_) {
    if (sigtimedwait(&signals_, nullptr, &poll) > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
      if (target_)
        target_->store(true, std::memory_order_release);
    }
  }
}

}  // namespace

int RunFlashCommand(const FlashSettings& settings) {
  // Before the MIDI system starts its threads, so that they inherit the mask.
  SignalWatch signals;
  RtMidiServices midi;
  TerminalSetup setup;
  setup.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  setup.progress = isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr;
  setup.device.device = settings.device;
  setup.device.askOnInput = isatty(STDIN_FILENO) == 1;
  TerminalWindow window(std::cout, setup);
  return RunFlash(settings, midi, window, signals, std::cerr);
}

}  // namespace korvane

// The full update's entry on Windows: WinMM itself, and Ctrl-C or Ctrl-Break
// from the console as the stop request.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <vector>

#include "cli/all_command.h"
#include "cli/flash_command.h"
#include "cli/terminal_window.h"
#include "midi/platform_midi.h"

namespace korvane {

namespace {

// The console calls its control handler on a thread of its own; the handler
// only raises the flag, under the same lock that Attach takes.
class ConsoleStopWatch final : public StopSource {
 public:
  ConsoleStopWatch();
  ~ConsoleStopWatch() override;
  ConsoleStopWatch(const ConsoleStopWatch&) = delete;
  ConsoleStopWatch& operator=(const ConsoleStopWatch&) = delete;
  void AttachAll(std::vector<std::atomic<bool>*> stopRequests) override;
  StopCause Cause() const override;
  // Called with mutex_ held.
  void RaiseAll() {
    for (std::atomic<bool>* target : targets_)
      target->store(true, std::memory_order_release);
  }

 private:
  static BOOL WINAPI OnControl(DWORD type);

  // The handler has no context argument: the one live watch is found here.
  static std::mutex mutex_;
  static ConsoleStopWatch* active_;

  std::vector<std::atomic<bool>*> targets_;  // guarded by mutex_
  bool signalled_ = false;                   // guarded by mutex_
};

std::mutex ConsoleStopWatch::mutex_;
ConsoleStopWatch* ConsoleStopWatch::active_ = nullptr;

ConsoleStopWatch::ConsoleStopWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    active_ = this;
  }
  SetConsoleCtrlHandler(&OnControl, TRUE);
}

ConsoleStopWatch::~ConsoleStopWatch() {
  SetConsoleCtrlHandler(&OnControl, FALSE);
  // A handler still running holds the lock; after this none can reach us.
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = nullptr;
}

void ConsoleStopWatch::AttachAll(std::vector<std::atomic<bool>*> stopRequests) {
  std::lock_guard<std::mutex> lock(mutex_);
  targets_ = std::move(stopRequests);
  if (signalled_)
    RaiseAll();
}

StopCause ConsoleStopWatch::Cause() const {
  std::lock_guard<std::mutex> lock(mutex_);
  // Ctrl-C and Ctrl-Break both stand for the interrupt signal.
  return signalled_ ? StopCause{2, "Ctrl-C"} : StopCause{};
}

BOOL WINAPI ConsoleStopWatch::OnControl(DWORD type) {
  // Closing the console or logging off still ends the process the usual way.
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
    return FALSE;
  std::lock_guard<std::mutex> lock(mutex_);
  if (active_) {
    active_->signalled_ = true;
    active_->RaiseAll();
  }
  return TRUE;
}

// A console that takes the escape sequences the log echo and the progress bar
// draw with. Older consoles do not: they are treated as plain output.
bool IsEscapeCapableConsole(FILE* stream) {
  if (_isatty(_fileno(stream)) == 0)
    return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
    return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

int RunFlashCommand(const FlashSettings& settings) {
  ConsoleStopWatch stop;
  const std::unique_ptr<MidiServices> midi = MakePlatformMidiServices();
  TerminalSetup setup;
  setup.outIsTerminal = IsEscapeCapableConsole(stdout);
  setup.progress = IsEscapeCapableConsole(stderr) ? &std::cerr : nullptr;
  setup.device.device = settings.device;
  setup.device.askOnInput = _isatty(_fileno(stdin)) != 0;
  TerminalWindow window(std::cout, setup);
  return RunFlash(settings, *midi, window, stop, std::cerr);
}

int RunAllCommand(const AllSettings& settings) {
  ConsoleStopWatch stop;
  const std::unique_ptr<MidiServices> midi = MakePlatformMidiServices();
  return RunAll(settings, *midi, stop, std::cout, std::cerr);
}

}  // namespace korvane

// `korvane-flash [--device NAME|N] [--log PATH] FILE`: the window's whole chain on
// the real MIDI system, from the greeting through the verdict and the closing
// of the ports, with the log printed as it grows.
#pragma once

#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "run/outcome.h"

namespace korvane {

class LogFile;
class MidiServices;
class TerminalWindow;

// Exit statuses of the full update, besides kExitPassed and kExitRefused.
constexpr int kExitDanger = 1;  // errors while flashing, or the connection lost
// No MIDI port, no device answered, --device named none or several of those
// that did, or stopped while scanning.
constexpr int kExitNoDevice = 3;
constexpr int kExitNotChosen = 4;

struct FlashSettings {
  std::string file;
  LogFile* log = nullptr;             // --log, already open
  std::optional<std::string> device;  // --device NAME or N
};

// What asked for the stop: its signal number and the name the user knows.
struct StopCause {
  int signal = 0;  // 0: nothing asked
  const char* name = "";
};

// Whatever asks for a stop from outside (Ctrl-C on a terminal, SIGTERM,
// SIGHUP): the run points it at the state's stop request while the state
// exists.
class StopSource {
 public:
  virtual ~StopSource() = default;
  // Every run's stop request that a stop raises; a request that came before
  // is passed on at once. An empty list detaches.
  virtual void AttachAll(std::vector<std::atomic<bool>*> stopRequests) = 0;
  // One run's request; nullptr detaches.
  void Attach(std::atomic<bool>* stopRequested) {
    AttachAll(stopRequested != nullptr ? std::vector{stopRequested}
                                       : std::vector<std::atomic<bool>*>{});
  }
  virtual StopCause Cause() const = 0;
};

// The exit status for what ended a run.
int ExitStatusOf(RunOutcome outcome);

// Runs the update on midi through window (which carries the device choice
// rules). Every port opened is closed before it returns. A stop request
// before any firmware was sent ends it with 128 + the signal's number (the
// device prompt: not chosen); once firmware was sent, the verdict's status
// stands. Either way err says the run was stopped on request.
int RunFlash(const FlashSettings& settings, MidiServices& midi, TerminalWindow& window,
             StopSource& stop, std::ostream& err);

// The whole command on the platform's MIDI system, printing to the standard
// streams: the signal watch first, then the MIDI services, then the run.
int RunFlashCommand(const FlashSettings& settings);

}  // namespace korvane

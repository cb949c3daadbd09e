#include "cli/flash_command.h"

#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/terminal_window.h"
#include "run/update_state.h"
#include "workflow/device_choice.h"
#include "workflow/steps_in_order.h"

namespace korvane {

int ExitStatusOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kSuccess:
      return kExitPassed;
    case RunOutcome::kDanger:
    case RunOutcome::kLostConnection:
    case RunOutcome::kStopped:
      return kExitDanger;
    case RunOutcome::kNoPort:
    case RunOutcome::kNoDevice:
    case RunOutcome::kPortsUnusable:
    case RunOutcome::kFileAccepted:  // the scan began and could not end
      return kExitNoDevice;
    case RunOutcome::kNotChosen:
      return kExitNotChosen;
    case RunOutcome::kNone:
    case RunOutcome::kFileRefused:
      break;
  }
  return kExitRefused;
}

int RunFlash(const FlashSettings& settings, MidiServices& midi, TerminalWindow& window,
             StopSource& stop, std::ostream& err) {
  UpdateState state(midi, window);
  stop.Attach(&state.stopRequested);
  const auto stopRequested = [&state] {
    return state.stopRequested.load(std::memory_order_acquire);
  };

  // Where a stop request found the run before any firmware went out.
  const char* stoppedWhile = nullptr;
  bool choiceStopped = false;  // the device prompt was cancelled by the stop
  bool transferred = false;
  if (!LoadAndCheckFile(state, FullPath(settings.file))) {
    if (stopRequested())
      stoppedWhile = "while the file was loaded and checked";
  } else if (!ScanAllPorts(state)) {
    if (stopRequested())
      stoppedWhile = "while the ports were scanned";
  } else if (!ChooseFoundDevice(state)) {
    choiceStopped = stopRequested();
  } else {
    UpdateChosenDevice(state);
    transferred = true;
  }
  state.ports.CloseAll();
  stop.Attach(nullptr);
  window.FinishOutput();

  const StopCause cause = stop.Cause();
  const bool stopped = stopRequested() && cause.signal != 0;
  int status = ExitStatusOf(state.Outcome());
  if (stoppedWhile != nullptr)
    status = kExitSignalBase + cause.signal;
  else if (window.DeviceRefused())
    status = kExitNoDevice;

  if (stopped) {
    const std::string prefix =
        std::string("korvane-flash: stopped on request (") + cause.name + ") ";
    if (transferred)
      err << prefix << "during the update; the verdict above stands\n";
    else if (stoppedWhile != nullptr)
      err << prefix << stoppedWhile << "; nothing was sent\n";
    else if (choiceStopped)
      err << prefix << "at the device choice; nothing was sent\n";
  }
  if (settings.log != nullptr) {
    // The verdict's status stands: the log's failure is only reported.
    if (const std::string error = settings.log->Write(state.log.Text()); !error.empty())
      err << "korvane-flash: " << error << '\n';
  }
  return status;
}

}  // namespace korvane

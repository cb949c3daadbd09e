#include "cli/flash_command.h"

#include <atomic>
#include <filesystem>

#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/step_loop.h"
#include "cli/terminal_window.h"
#include "run/steps.h"
#include "run/update_state.h"
#include "workflow/workflow.h"

namespace korvane {

namespace {

enum class Phase { kFile, kScan, kChoice, kTransfer, kDone };

}  // namespace

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
  window.SetUpdateFile(FullPath(settings.file));
  UpdateState state(midi, window);
  stop.Attach(&state.stopRequested);
  Workflow workflow(state);

  // The window's first paint, then the Open button.
  workflow.OnPaint(true);
  workflow.OnButton(kOpenButton);

  Phase phase = Phase::kFile;
  // Where a stop request found the run before any firmware went out.
  const char* stoppedWhile = nullptr;
  bool choiceStopped = false;  // the device prompt was cancelled by the stop
  RunStepLoop(window, state.workers, [&](int step) {
    if (state.stopRequested.load(std::memory_order_acquire) && phase != Phase::kTransfer &&
        phase != Phase::kDone) {
      stoppedWhile = phase == Phase::kFile ? "while the file was loaded and checked"
                                           : "while the ports were scanned";
      return StepOutcome::kStop;
    }
    if (step == STEP_CHOOSE_DEVICE)
      phase = Phase::kChoice;
    workflow.HandleStep(step);
    switch (step) {
      case STEP_SCAN_PORTS:
        if (workflow.PortsOpen()) {
          phase = Phase::kScan;
          return StepOutcome::kContinue;
        }
        // The model re-check refused the file, or no port opened (the
        // workflow has closed again what it opened).
        return StepOutcome::kStop;
      case STEP_NO_DEVICE:
        phase = Phase::kDone;
        return StepOutcome::kContinue;
      case STEP_CHOOSE_DEVICE:
        if (state.chosenDevice) {
          phase = Phase::kTransfer;
        } else {
          phase = Phase::kDone;
          choiceStopped = state.stopRequested.load(std::memory_order_acquire);
        }
        return StepOutcome::kContinue;
      case STEP_RESET_PORTS:
        return StepOutcome::kStop;
      default:
        return StepOutcome::kContinue;
    }
  });

  // A stopped transfer writes its danger message and posts nothing; a stopped
  // scan may end without a step. Either way the workers end before the ports
  // close.
  state.workers.JoinAll();
  stop.Attach(nullptr);
  const StopCause cause = stop.Cause();
  const bool stopped = state.stopRequested.load() && cause.signal != 0;
  if (stopped && phase == Phase::kScan && stoppedWhile == nullptr)
    stoppedWhile = "while the ports were scanned";
  int status = ExitStatusOf(state.Outcome());
  if (stoppedWhile != nullptr && phase != Phase::kTransfer)
    status = kExitSignalBase + cause.signal;
  else if (window.DeviceRefused())
    status = kExitNoDevice;
  if (workflow.PortsOpen())
    workflow.HandleStep(STEP_RESET_PORTS);
  window.FinishOutput();

  if (stopped) {
    const std::string prefix =
        std::string("korvane-flash: stopped on request (") + cause.name + ") ";
    if (phase == Phase::kTransfer)
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

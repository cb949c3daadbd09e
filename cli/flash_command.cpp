#include "cli/flash_command.h"

#include <atomic>
#include <filesystem>
#include <fstream>

#include "app/steps.h"
#include "app/update_state.h"
#include "app/workflow.h"
#include "cli/command_line.h"
#include "cli/step_loop.h"
#include "cli/terminal_window.h"
#include "update/transfer_texts.h"

namespace korvane {

namespace {

std::string FullPath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return error ? file : absolute.lexically_normal().string();
}

bool WriteLog(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return static_cast<bool>(out);
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

enum class Phase { kFile, kScan, kChoice, kTransfer, kDone };

// A transfer that could not begin sent nothing: the device is as it was.
int TransferStatus(const std::string& log) {
  if (EndsWith(log, kSuccessText))
    return kExitPassed;
  if (EndsWith(log, kPairNotFoundText) || EndsWith(log, kInputNotClosedText))
    return kExitNoDevice;
  return kExitDanger;
}

}  // namespace

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
  int status = kExitRefused;
  RunStepLoop(window, state.workers, [&](int step) {
    if (state.stopRequested.load(std::memory_order_acquire) && phase != Phase::kTransfer) {
      status = phase == Phase::kFile ? kExitRefused : kExitNoDevice;
      return StepOutcome::kStop;
    }
    workflow.HandleStep(step);
    switch (step) {
      case STEP_SCAN_PORTS:
        if (workflow.PortsOpen()) {
          phase = Phase::kScan;
          return StepOutcome::kContinue;
        }
        // The model re-check refused the file, or no port opened (the
        // workflow has closed again what it opened).
        status = EndsWith(state.log.Text(), kNoPortText) ? kExitNoDevice : kExitRefused;
        return StepOutcome::kStop;
      case STEP_NO_DEVICE:
        status = kExitNoDevice;
        phase = Phase::kDone;
        return StepOutcome::kContinue;
      case STEP_CHOOSE_DEVICE:
        if (state.portPairList) {
          phase = Phase::kTransfer;
        } else {
          status = kExitNotChosen;
          phase = Phase::kDone;
        }
        return StepOutcome::kContinue;
      case STEP_RESET_PORTS:
        if (phase == Phase::kTransfer)
          status = TransferStatus(state.log.Text());
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
  if (phase == Phase::kTransfer && state.stopRequested.load())
    status = kExitDanger;
  else if (phase == Phase::kScan && state.stopRequested.load())
    status = kExitNoDevice;
  if (workflow.PortsOpen())
    workflow.HandleStep(STEP_RESET_PORTS);
  window.FinishOutput();

  if (settings.logPath && !WriteLog(*settings.logPath, state.log.Text())) {
    err << "korvane-flash: cannot write the log to " << *settings.logPath << '\n';
    return kExitLogWrite;
  }
  return status;
}

}  // namespace korvane

#include "cli/check_command.h"

#include <filesystem>

#include "app/file_select.h"
#include "app/steps.h"
#include "app/update_state.h"
#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/step_loop.h"
#include "cli/terminal_window.h"
#include "midi/fixed_result_midi_services.h"
#include "update/update_file.h"

namespace korvane {

namespace {

// The dialog hands back a full path; so does the terminal.
std::string FullPath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return error ? file : absolute.lexically_normal().string();
}

}  // namespace

int RunCheck(const std::string& file, LogFile* log, std::ostream& out, std::ostream& err) {
  NoMidiServices midi;
  TerminalWindow window(out);
  window.SetUpdateFile(FullPath(file));
  UpdateState state(midi, window);

  // What the window shows at its first paint, then the Open button.
  state.log.AppendLog("Welcome to the Korvane-Update Utility.");
  state.log.AppendLog("\r\nPlease select a file to upload.");
  window.SetButtonText(kOpenButton, "&Open");
  window.ShowButton(kOpenButton);
  window.SetButtonText(kExitButton, "&Exit");
  window.ShowButton(kExitButton);
  window.HideButton(kOpenButton);
  window.PostStep(STEP_SELECT_FILE);

  bool passed = false;
  RunStepLoop(window, state.workers, [&state, &passed](int step) {
    switch (step) {
      case STEP_SELECT_FILE:
        state.workers.Start([&state] { FileSelectWorker(state); });
        return StepOutcome::kContinue;
      case STEP_LOAD_FILE:
        state.workers.Start([&state] { FileLoadWorker(state); });
        return StepOutcome::kContinue;
      case STEP_CHECK_FILE:
        state.workers.Start([&state] { FileCheckWorker(state); });
        return StepOutcome::kContinue;
      case STEP_SCAN_PORTS:
        // The check ends where the ports would be opened.
        passed = RecheckModel(state);
        return StepOutcome::kStop;
      default:
        return StepOutcome::kStop;
    }
  });
  // The check worker leaves the busy state after posting its step.
  state.workers.JoinAll();
  window.FinishOutput();

  if (log != nullptr) {
    if (const std::string error = log->Write(state.log.Text()); !error.empty())
      err << "korvane-flash: " << error << '\n';
  }
  return passed ? kExitPassed : kExitRefused;
}

}  // namespace korvane

#include "cli/check_command.h"

#include <filesystem>

#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/step_loop.h"
#include "cli/terminal_window.h"
#include "midi/fixed_result_midi_services.h"
#include "run/steps.h"
#include "run/update_state.h"
#include "update/update_file.h"
#include "workflow/workflow.h"

namespace korvane {

int RunCheck(const std::string& file, LogFile* log, std::ostream& out, std::ostream& err) {
  NoMidiServices midi;
  TerminalWindow window(out);
  window.SetUpdateFile(FullPath(file));
  UpdateState state(midi, window);

  // The same chain as the full update, up to where the scan would open the
  // ports: the first paint, the Open button, the file's workers.
  Workflow workflow(state);
  workflow.OnPaint(true);
  workflow.OnButton(kOpenButton);
  RunStepLoop(window, state.workers, [&state, &workflow](int step) {
    if (step == STEP_SCAN_PORTS) {
      RecheckModel(state);
      return StepOutcome::kStop;
    }
    workflow.HandleStep(step);
    return StepOutcome::kContinue;
  });
  // The check worker leaves the busy state after posting its step.
  state.workers.JoinAll();
  window.FinishOutput();

  if (log != nullptr) {
    if (const std::string error = log->Write(state.log.Text()); !error.empty())
      err << "korvane-flash: " << error << '\n';
  }
  return state.Outcome() == RunOutcome::kFileAccepted ? kExitPassed : kExitRefused;
}

}  // namespace korvane

#include "cli/check_command.h"

#include "cli/command_line.h"
#include "cli/log_file.h"
#include "cli/terminal_window.h"
#include "midi/fixed_result_midi_services.h"
#include "run/update_state.h"
#include "workflow/steps_in_order.h"

namespace korvane {

int RunCheck(const std::string& file, LogFile* log, std::ostream& out, std::ostream& err) {
  NoMidiServices midi;
  TerminalWindow window(out);
  UpdateState state(midi, window);
  // The same chain as the full update, up to where the scan would open the ports.
  LoadAndCheckFile(state, FullPath(file));
  window.FinishOutput();

  if (log != nullptr) {
    if (const std::string error = log->Write(state.log.Text()); !error.empty())
      err << "korvane-flash: " << error << '\n';
  }
  return state.Outcome() == RunOutcome::kFileAccepted ? kExitPassed : kExitRefused;
}

}  // namespace korvane

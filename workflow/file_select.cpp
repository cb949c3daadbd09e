#include "workflow/file_select.h"

#include "run/steps.h"
#include "run/texts.h"
#include "run/update_state.h"

namespace korvane {

void FileSelectWorker(UpdateState& state) {
  std::optional<std::string> chosen = state.window.ChooseUpdateFile();
  if (!chosen) {
    // The Open command hid the button; the previous path and image stay.
    state.window.ShowButton(kOpenButton);
    return;
  }
  state.filePath = std::move(*chosen);
  state.log.AppendLog(kCheckingFileText);
  state.log.AppendLog(*state.filePath);
  state.window.PostStep(STEP_LOAD_FILE);
}

}  // namespace korvane

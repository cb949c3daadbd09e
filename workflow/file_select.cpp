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
  TakeUpdateFile(state, std::move(*chosen));
  state.window.PostStep(STEP_LOAD_FILE);
}

void TakeUpdateFile(UpdateState& state, std::string path) {
  state.filePath = std::move(path);
  state.log.AppendLog(kCheckingFileText);
  state.log.AppendLog(*state.filePath);
}

}  // namespace korvane

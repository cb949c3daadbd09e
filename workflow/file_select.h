// Choosing the update file: the window's open-file dialog, then the load.
#pragma once

namespace korvane {

class UpdateState;

// Asks the window for a file; on OK stores and logs its path and posts
// STEP_LOAD_FILE, on cancel shows Open again. Never enters the busy state.
void FileSelectWorker(UpdateState& state);

}  // namespace korvane

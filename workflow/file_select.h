// Choosing the update file: the window's open-file dialog, then the load.
#pragma once

#include <string>

namespace korvane {

class UpdateState;

// Asks the window for a file; on OK stores and logs its path and posts
// STEP_LOAD_FILE, on cancel shows Open again. Never enters the busy state.
void FileSelectWorker(UpdateState& state);

// The update file is the one at path: stored and logged as the open-file
// dialog's choice is.
void TakeUpdateFile(UpdateState& state, std::string path);

}  // namespace korvane

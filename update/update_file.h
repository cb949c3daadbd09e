// Loading and checking the update file: a flat run of firmware block messages.
#pragma once

#include <cstdint>
#include <span>

namespace korvane {

class UpdateState;

// Reads the file at the state's path into the update image in 4096-byte
// pieces; posts STEP_CHECK_FILE on success. Runs on a worker thread.
void FileLoadWorker(UpdateState& state);

// Checks every message of the image, logs the model and sets InputBufferSize;
// posts STEP_SCAN_PORTS on success. Runs on a worker thread.
void FileCheckWorker(UpdateState& state);

// The first act of STEP_SCAN_PORTS: false (and "\r\nSorry, incorrect file" in
// the log) when the image's model byte names no known controller.
bool RecheckModel(UpdateState& state);

}  // namespace korvane

// Runs one worker of the engine so that nothing it throws leaves it.
#pragma once

namespace korvane {

class UpdateState;

// A worker that throws has left the busy state on the way out (its scope
// guard); the log says so, a transfer that had sent firmware ends in the
// danger message, and STEP_RESET_PORTS hands the program back to the user.
// False when it threw.
bool RunWorker(UpdateState& state, void (*worker)(UpdateState&));

}  // namespace korvane

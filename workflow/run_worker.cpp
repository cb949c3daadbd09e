#include "workflow/run_worker.h"

#include <exception>
#include <string>

#include "run/steps.h"
#include "run/texts.h"
#include "run/update_state.h"
#include "update/transfer.h"

namespace korvane {

bool RunWorker(UpdateState& state, void (*worker)(UpdateState&)) {
  std::string what;
  try {
    worker(state);
    return true;
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
    what = "unknown";
  }
  state.log.AppendLog(std::string(kWorkerFailedText) + what + ")");
  // Firmware went out and the run did not finish: the controller may hold
  // part of it.
  if (worker == &TransferWorker && state.firmwareSent.load(std::memory_order_acquire)) {
    state.log.AppendLog(kDangerText);
    state.Record(RunOutcome::kDanger);
  }
  state.window.PostStep(STEP_RESET_PORTS);
  return false;
}

}  // namespace korvane

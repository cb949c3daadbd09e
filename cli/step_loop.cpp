#include "cli/step_loop.h"

#include "cli/terminal_window.h"
#include "run/worker_threads.h"

namespace korvane {

namespace {
// How often the loop looks whether the workers are all done.
constexpr int kIdlePollMs = 20;
}  // namespace

void RunStepLoop(TerminalWindow& window, WorkerThreads& workers,
                 const std::function<StepOutcome(int step)>& handle) {
  for (;;) {
    std::optional<int> step = window.WaitForStep(kIdlePollMs);
    // A worker posts before it returns, so once none runs, one more look
    // finds any step it left behind.
    if (!step && !workers.AnyRunning())
      step = window.WaitForStep(0);
    if (!step) {
      if (workers.AnyRunning())
        continue;
      return;
    }
    if (handle(*step) == StepOutcome::kStop)
      return;
  }
}

}  // namespace korvane

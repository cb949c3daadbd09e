// The terminal's window thread: takes posted steps one by one and hands them
// to a handler, as the window's message loop would.
#pragma once

#include <functional>

namespace korvane {

class TerminalWindow;
class WorkerThreads;

enum class StepOutcome { kContinue, kStop };

// Returns when the handler says stop, or when no step is queued and no worker
// is left that could post one (a failed worker posts nothing).
void RunStepLoop(TerminalWindow& window, WorkerThreads& workers,
                 const std::function<StepOutcome(int step)>& handle);

}  // namespace korvane

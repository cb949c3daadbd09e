// One run of the soak: a virtual MIDI system of its own with the plan's
// controllers and fault, the scan and the device choice where the plan asks
// for them, then the transfer; and what the controllers hold afterwards.
#pragma once

#include <string>

#include "bench/soak_faults.h"

namespace korvane::soak {

enum class Verdict { kSuccess, kDanger, kLostConnection, kDeviceSilent, kNone };

struct RunResult {
  Verdict verdict = Verdict::kNone;
  // Does the chosen controller hold exactly the image?
  bool holdsImage = false;
  // Firmware messages the chosen controller received (after a restart: the
  // new one), and how many it holds.
  std::size_t chosenMessages = 0;
  std::size_t heldMessages = 0;
  // A controller that was not chosen received a firmware message or a block.
  bool unchosenReceived = false;
  // kSecondUpdater: ports a second updater could open during the run.
  int secondUpdaterPorts = 0;
  // kLockFolders: how the two takes of the lock went.
  bool firstLockHeld = false;
  bool secondLockHeld = false;
  // Why the run has no verdict, when it has none.
  std::string problem;
  std::string log;
};

// Runs on any thread, except the lock kind: it changes the environment and
// runs before the other runs start.
RunResult Execute(const RunPlan& plan);

}  // namespace korvane::soak

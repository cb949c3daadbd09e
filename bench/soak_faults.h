// The soak's fault catalogue: the kinds of fault, what each run does (drawn
// from its own seed before it starts) and what the truth allows it to end in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/virtual_midi_services.h"

namespace korvane::soak {

enum class Fault {
  kNone,
  kRefuse1,
  kRefuse2,
  kRefuse3,
  kRefuseOther,
  kDroppedReply,
  kLateReply,
  kForeignSysEx,
  kForeignCommand,
  kStrayIdentity,
  kStrayCommand,
  kUnplugged,
  kPrepareFails,
  kSendFails,
  kStallLost,
  kStallQueued,
  kLostMessages,
  kSilentInTail,
  kVanishInTail,
  kSecondUpdater,
  kLateBystander,
  kRestartBeforeFirst,
  kLockFolders,
  kCount,
};

const char* FaultName(Fault fault);

// Whether the soak runs the kind: the lock kind needs the RtMidi back-end.
bool Available(Fault fault);

// What a run of the kind may end in, beyond "success only over the image".
enum class Expect {
  kTruth,         // success only when the controller holds the image
  kNeverSuccess,  // the controller left with its ports: lost or danger
  kNothingSent,   // "did not answer", and the controller holds nothing
  kUndetectable,  // success over a short image, as no reply acknowledges it
  kLockRefused,   // the second take of the lock is refused
};

Expect ExpectOf(Fault fault);

struct Injection {
  Bytes bytes;
  std::uint32_t delayMs = 0;
};

// Everything a run does. The chosen controller is on pair chosenPair; the
// bystanders take the other pairs in order.
struct RunPlan {
  std::uint32_t seed = 0;
  Fault fault = Fault::kNone;
  bool addressed = true;
  Bytes image;
  std::size_t messages = 0;
  std::size_t longest = 0;
  DeviceModelOptions device;
  std::vector<DeviceModelOptions> bystanders;
  std::size_t chosenPair = 0;
  // The pair list comes from a scan and the device choice, not from the plan.
  bool scan = false;
  bool restartBeforeTransfer = false;
  std::vector<CallFault> callFaults;
  std::vector<Injection> injections;  // on the chosen controller's input
  // False where the fault leaves no way to success: a block spoiled more
  // often than the retries allow, a controller gone or replaced.
  bool successPossible = true;
};

// Runs go round the kinds that are available, so each gets its share.
RunPlan DrawPlan(std::uint32_t seed, int index);

}  // namespace korvane::soak

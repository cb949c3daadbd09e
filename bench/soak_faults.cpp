#include "bench/soak_faults.h"

#include <algorithm>
#include <map>
#include <random>

#include "midi/protocol.h"

namespace korvane::soak {
namespace {

constexpr std::size_t kBlock = kBlockMessages;
// Pacing holds a message for length / 3 ms, so an image of this many bytes
// takes about 0.8 s to send once; retries and 300 ms time-outs come on top.
constexpr std::size_t kImageByteBudget = 2400;
// Addressed messages carry their index in bytes 7 and 8, so 10 bytes is the
// shortest that a controller can place.
constexpr std::size_t kShortestMessage = 10;
constexpr std::size_t kLongestMessage = 600;
constexpr std::size_t kMostMessages = 100;
// Failed attempts of one block the transfer takes before it gives up.
constexpr std::size_t kRetries = 10;
// Over the scan's 300 ms wait for an identity reply.
constexpr std::uint32_t kLateIdentityMs = 350;
constexpr std::uint8_t kEraseError = 2;

bool NeedsFullBlock(Fault fault) {
  switch (fault) {
    case Fault::kNone:
    case Fault::kForeignSysEx:
    case Fault::kPrepareFails:
    case Fault::kSendFails:
    case Fault::kSecondUpdater:
    case Fault::kLateBystander:
    case Fault::kRestartBeforeFirst:
    case Fault::kLockFolders:
      return false;
    default:
      return true;
  }
}

// The fault falls in the last block, which must then hold fewer than 16
// messages; the silent kind needs two, so that one is missing.
std::size_t ShortestTail(Fault fault) {
  if (fault == Fault::kSilentInTail)
    return 2;
  return fault == Fault::kVanishInTail ? 1 : 0;
}

// Faults after which a plain controller may hold a block twice (a reply that
// comes after the wait, or a block passed over), which no updater can see.
bool PlainCanStoreTwice(Fault fault) {
  return fault == Fault::kDroppedReply || fault == Fault::kLateReply ||
         fault == Fault::kForeignCommand || fault == Fault::kStallQueued;
}

std::size_t Draw(std::mt19937& random, std::size_t low, std::size_t high) {
  return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

bool Chance(std::mt19937& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

// An addressed image: message i carries i in bytes 7 and 8, then random data.
void DrawImage(std::mt19937& random, RunPlan& plan, std::uint8_t model) {
  const std::size_t tail = ShortestTail(plan.fault);
  const std::size_t lowest = tail > 0 ? kBlock + tail : NeedsFullBlock(plan.fault) ? kBlock : 1;
  plan.messages = Draw(random, lowest, kMostMessages);
  if (tail > 0 && plan.messages % kBlock < tail)
    plan.messages += tail - plan.messages % kBlock;
  const std::size_t cap =
      std::clamp(kImageByteBudget / plan.messages, kShortestMessage, kLongestMessage);
  for (std::size_t i = 0; i < plan.messages; ++i) {
    const std::size_t length = Draw(random, kShortestMessage, cap);
    plan.longest = std::max(plan.longest, length);
    const std::size_t start = plan.image.size();
    plan.image.insert(plan.image.end(), kMessageHeader.begin(), kMessageHeader.end());
    plan.image.insert(plan.image.end(),
                      {kBuiltIndex4, model, kCmdFirmwareBlock, static_cast<std::uint8_t>(i & 0x7F),
                       static_cast<std::uint8_t>((i >> 7) & 0x7F)});
    while (plan.image.size() - start + 1 < length)
      plan.image.push_back(static_cast<std::uint8_t>(Draw(random, 0, 0x7F)));
    plan.image.push_back(0xF7);
  }
}

// How many attempts in a row a fault spoils: mostly a few, sometimes more than
// the retries allow.
std::size_t DrawAttempts(std::mt19937& random) {
  return Chance(random, 0.15) ? kRetries + 1 : Draw(random, 1, 3);
}

// One to three of the full blocks get the fault, each for one attempt or several.
void AddBlockFaults(std::mt19937& random, RunPlan& plan, BlockFault fault, bool severalAttempts) {
  const std::size_t fullBlocks = plan.messages / kBlock;
  const std::size_t blocks = Draw(random, 1, std::min<std::size_t>(3, fullBlocks));
  for (std::size_t b = 0; b < blocks; ++b) {
    fault.block = Draw(random, 0, fullBlocks - 1);
    const std::size_t attempts = severalAttempts ? DrawAttempts(random) : 1;
    for (std::size_t a = 0; a < attempts; ++a)
      plan.device.blockFaults.push_back(fault);
  }
}

// A stray message before an OK or an "Erase error", on one to three blocks.
void AddStrays(std::mt19937& random, RunPlan& plan, StrayMessage stray) {
  const std::size_t fullBlocks = plan.messages / kBlock;
  const std::size_t count = Draw(random, 1, std::min<std::size_t>(3, fullBlocks));
  for (std::size_t i = 0; i < count; ++i) {
    plan.device.blockFaults.push_back(
        BlockFault{.block = Draw(random, 0, fullBlocks - 1),
                   .status = Chance(random, 0.5) ? std::uint8_t{0} : kEraseError,
                   .strayBefore = stray});
  }
}

void AddForeignSysEx(std::mt19937& random, RunPlan& plan) {
  plan.device.noise = true;
  const std::size_t count = Draw(random, 1, 8);
  for (std::size_t i = 0; i < count; ++i) {
    Bytes other = {0xF0, static_cast<std::uint8_t>(Draw(random, 1, 0x7D))};
    const std::size_t length = Draw(random, 0, 30);
    for (std::size_t b = 0; b < length; ++b)
      other.push_back(static_cast<std::uint8_t>(Draw(random, 0, 0x7F)));
    other.push_back(0xF7);
    plan.injections.push_back({other, static_cast<std::uint32_t>(Draw(random, 0, 1500))});
  }
}

void AddCallFaults(std::mt19937& random, RunPlan& plan) {
  const bool prepare = plan.fault == Fault::kPrepareFails;
  const std::size_t count = Draw(random, 1, 2);
  for (std::size_t i = 0; i < count; ++i) {
    plan.callFaults.push_back(
        {.call = prepare ? MidiCall::kOutPrepareHeader : MidiCall::kOutLongMsg,
         .result = prepare ? MMSYSERR_NOMEM : MMSYSERR_ERROR,
         .nth = static_cast<std::uint32_t>(Draw(random, 1, plan.messages))});
  }
}

// A second controller beside the chosen one, answering its identity request
// after the scan's wait, of the same model or another.
void AddLateBystander(std::mt19937& random, RunPlan& plan) {
  DeviceModelOptions late = plan.device;
  if (Chance(random, 0.5)) {
    // The next model of the table, named as a factory-fresh controller is.
    const auto& models = korvane::kControllerModels;
    const auto* mine = korvane::FindModel(plan.device.model);
    const auto& other = models[static_cast<std::size_t>(mine - models.data() + 1) % models.size()];
    late.model = other.byte;
    late.name = std::string(other.name);
  }
  late.identityDelayMs = kLateIdentityMs;
  plan.bystanders.push_back(late);
  plan.chosenPair = Draw(random, 0, 1);
}

bool SpoilsBeyondRetries(const std::vector<BlockFault>& faults) {
  std::map<std::size_t, std::size_t> perBlock;
  for (const BlockFault& fault : faults) {
    if (fault.status != 0 || fault.dropReply || fault.extraDelayMs > 0 || fault.replyCommand)
      ++perBlock[fault.block];
  }
  return std::any_of(perBlock.begin(), perBlock.end(),
                     [](const auto& entry) { return entry.second > kRetries; });
}

std::vector<Fault> AvailableFaults() {
  std::vector<Fault> faults;
  for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) {
    if (Available(static_cast<Fault>(k)))
      faults.push_back(static_cast<Fault>(k));
  }
  return faults;
}

}  // namespace

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "none";
    case Fault::kRefuse1:
      return "refused, status 1";
    case Fault::kRefuse2:
      return "refused, status 2";
    case Fault::kRefuse3:
      return "refused, status 3";
    case Fault::kRefuseOther:
      return "refused, other status";
    case Fault::kDroppedReply:
      return "block reply dropped";
    case Fault::kLateReply:
      return "reply after 300 ms";
    case Fault::kForeignSysEx:
      return "foreign SysEx";
    case Fault::kForeignCommand:
      return "foreign command byte";
    case Fault::kStrayIdentity:
      return "stray identity reply";
    case Fault::kStrayCommand:
      return "stray other command";
    case Fault::kUnplugged:
      return "unplugged mid-transfer";
    case Fault::kPrepareFails:
      return "prepare fails";
    case Fault::kSendFails:
      return "send fails";
    case Fault::kStallLost:
      return "pause, input lost";
    case Fault::kStallQueued:
      return "pause, input waits";
    case Fault::kLostMessages:
      return "messages lost";
    case Fault::kSilentInTail:
      return "silent in last block";
    case Fault::kVanishInTail:
      return "vanish in last block";
    case Fault::kSecondUpdater:
      return "second updater";
    case Fault::kLateBystander:
      return "late second controller";
    case Fault::kRestartBeforeFirst:
      return "restart before block 1";
    case Fault::kLockFolders:
      return "lock folders differ";
    case Fault::kCount:
      break;
  }
  return "?";
}

bool Available(Fault fault) {
#ifdef KORVANE_SOAK_PORT_LOCK
  return fault != Fault::kCount;
#else
  return fault != Fault::kCount && fault != Fault::kLockFolders;
#endif
}

Expect ExpectOf(Fault fault) {
  switch (fault) {
    case Fault::kSilentInTail:
      return Expect::kUndetectable;
    case Fault::kVanishInTail:
      return Expect::kNeverSuccess;
    case Fault::kRestartBeforeFirst:
      return Expect::kNothingSent;
    case Fault::kLockFolders:
      return Expect::kLockRefused;
    default:
      return Expect::kTruth;
  }
}

RunPlan DrawPlan(std::uint32_t seed, int index) {
  static const std::vector<Fault> kinds = AvailableFaults();
  const int kindCount = static_cast<int>(kinds.size());
  RunPlan plan;
  plan.seed = seed + static_cast<std::uint32_t>(index) * 7919u;
  std::mt19937 random(plan.seed);
  plan.fault = kinds[static_cast<std::size_t>(index % kindCount)];
  const auto& models = korvane::kControllerModels;
  const korvane::ControllerModel& model = models[Draw(random, 0, models.size() - 1)];
  DrawImage(random, plan, model.byte);
  plan.device.model = model.byte;
  plan.device.name = std::string(model.name);
  // Every other run of a kind goes to a plain controller, where it can; the
  // lock kind sends nothing and has one row.
  plan.addressed = plan.fault == Fault::kLockFolders || PlainCanStoreTwice(plan.fault) ||
                   (index / kindCount) % 2 == 0;
  plan.device.addressed = plan.addressed;

  const std::size_t fullBlocks = plan.messages / kBlock;
  switch (plan.fault) {
    case Fault::kNone:
      break;
    case Fault::kRefuse1:
    case Fault::kRefuse2:
    case Fault::kRefuse3: {
      const auto status =
          static_cast<std::uint8_t>(static_cast<int>(plan.fault) - static_cast<int>(Fault::kNone));
      AddBlockFaults(random, plan, BlockFault{.status = status}, true);
      break;
    }
    case Fault::kRefuseOther:
      AddBlockFaults(random, plan,
                     BlockFault{.status = static_cast<std::uint8_t>(Draw(random, 4, 0x7F))}, true);
      break;
    case Fault::kDroppedReply: {
      // Taken or refused, the controller's answer never comes.
      const auto status = static_cast<std::uint8_t>(Chance(random, 0.5) ? 0 : Draw(random, 1, 3));
      AddBlockFaults(random, plan, BlockFault{.status = status, .dropReply = true}, true);
      break;
    }
    case Fault::kLateReply:
      AddBlockFaults(random, plan,
                     BlockFault{.status = 0,
                                .extraDelayMs = static_cast<std::uint32_t>(Draw(random, 301, 900))},
                     true);
      break;
    case Fault::kForeignSysEx:
      AddForeignSysEx(random, plan);
      break;
    case Fault::kForeignCommand: {
      std::uint8_t command = 0x35;
      while (command == 0x35)
        command = static_cast<std::uint8_t>(Draw(random, 0, 0x7F));
      const auto status = static_cast<std::uint8_t>(Draw(random, 0, 3));
      AddBlockFaults(random, plan, BlockFault{.status = status, .replyCommand = command}, false);
      break;
    }
    case Fault::kStrayIdentity:
    case Fault::kStrayCommand:
      AddStrays(random, plan,
                plan.fault == Fault::kStrayIdentity ? StrayMessage::kIdentityReply
                                                    : StrayMessage::kForeignCommand);
      break;
    case Fault::kUnplugged:
      plan.device.unplugAfter = Draw(random, 0, fullBlocks - 1);
      plan.successPossible = false;
      break;
    case Fault::kPrepareFails:
    case Fault::kSendFails:
      AddCallFaults(random, plan);
      break;
    case Fault::kStallLost:
    case Fault::kStallQueued: {
      // A plain controller whose pause begins once a block is complete
      // answers that block late; that is the queued kind's to show.
      const std::size_t lastMessage = plan.addressed ? kBlock - 1 : kBlock - 2;
      plan.device.stalls = {StallFault{.block = Draw(random, 0, fullBlocks - 1),
                                       .message = Draw(random, 0, lastMessage),
                                       .ms = static_cast<std::uint32_t>(Draw(random, 100, 500)),
                                       .queued = plan.fault == Fault::kStallQueued}};
      break;
    }
    case Fault::kLostMessages:
      plan.device.losses = {LossFault{.block = Draw(random, 0, fullBlocks - 1),
                                      .message = Draw(random, 0, kBlock - 1),
                                      .count = Draw(random, 1, 4)}};
      break;
    case Fault::kSilentInTail:
      // It holds at least one message of the last block and misses one.
      plan.device.unplugAfterMessages = Draw(random, fullBlocks * kBlock + 1, plan.messages - 1);
      plan.successPossible = false;
      break;
    case Fault::kVanishInTail:
      plan.device.vanishAfterMessages = Draw(random, fullBlocks * kBlock + 1, plan.messages);
      plan.successPossible = false;
      break;
    case Fault::kLateBystander:
      AddLateBystander(random, plan);
      plan.scan = true;
      break;
    case Fault::kRestartBeforeFirst:
      plan.scan = true;
      plan.restartBeforeTransfer = true;
      plan.successPossible = false;
      break;
    case Fault::kSecondUpdater:
    case Fault::kLockFolders:
    case Fault::kCount:
      break;
  }
  if (SpoilsBeyondRetries(plan.device.blockFaults))
    plan.successPossible = false;
  return plan;
}

}  // namespace korvane::soak

// Fault-injection soak of the transfer: seeded runs, each on a virtual MIDI
// system of its own with one controller and one kind of fault. Each run's
// verdict (from the log) is compared with the truth: does the controller hold
// exactly the image? A success verdict over anything else is a mismatch, the
// one outcome the program must never produce.
//
// The addressed controller is the truth model: it places messages by the
// index they carry, so it tells a block sent again from the next one. A plain
// controller cannot: after a reply that came too late it stores the block
// again, which no updater can see on this protocol. It runs only for the
// faults where that cannot happen.
//
// Usage: soak-transfer [SEED] [RUNS]. Prints a table by fault kind and model
// and, last, "runs: N, verdict mismatches: M"; exits 1 when M is not 0.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "midi/protocol.h"
#include "run/null_window.h"
#include "run/update_state.h"
#include "sim/virtual_midi_services.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"

namespace {

using korvane::BlockFault;
using korvane::Bytes;
using korvane::CallFault;
using korvane::DeviceModelOptions;
using korvane::LossFault;
using korvane::MidiCall;
using korvane::StallFault;

constexpr std::uint32_t kDefaultSeed = 20261208;
constexpr int kDefaultRuns = 640;
constexpr int kThreads = 2;
constexpr std::size_t kBlock = korvane::kBlockMessages;
// Pacing holds a message for length / 3 ms, so an image of this many bytes
// takes about 0.8 s to send once; retries and 300 ms time-outs come on top.
// 640 runs on 2 threads then take about ten minutes.
constexpr std::size_t kImageByteBudget = 2400;
// Addressed messages carry their index in bytes 7 and 8, so 10 bytes is the
// shortest that a controller can place.
constexpr std::size_t kShortestMessage = 10;
constexpr std::size_t kLongestMessage = 600;
constexpr std::size_t kMostMessages = 100;

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
  kUnplugged,
  kPrepareFails,
  kSendFails,
  kStallLost,
  kStallQueued,
  kLostMessages,
  kUnpluggedInTail,
  kSecondUpdater,
  kCount,
};

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
    case Fault::kUnpluggedInTail:
      return "unplugged in last block";
    case Fault::kSecondUpdater:
      return "second updater";
    case Fault::kCount:
      break;
  }
  return "?";
}

bool NeedsFullBlock(Fault fault) {
  return fault != Fault::kNone && fault != Fault::kForeignSysEx && fault != Fault::kPrepareFails &&
         fault != Fault::kSendFails && fault != Fault::kSecondUpdater;
}

// Faults after which a plain controller may hold a block twice (a reply that
// comes after the wait, or a block passed over), which no updater can see.
bool PlainCanStoreTwice(Fault fault) {
  return fault == Fault::kDroppedReply || fault == Fault::kLateReply ||
         fault == Fault::kForeignCommand || fault == Fault::kStallQueued;
}

enum class Verdict { kSuccess, kDanger, kLostConnection, kNone };

struct Injection {
  Bytes bytes;
  std::uint32_t delayMs = 0;
};

// Everything a run does, drawn from its own seed before it starts.
struct RunPlan {
  std::uint32_t seed = 0;
  Fault fault = Fault::kNone;
  bool addressed = true;
  Bytes image;
  std::size_t messages = 0;
  std::size_t longest = 0;
  DeviceModelOptions device;
  std::vector<CallFault> callFaults;
  std::vector<Injection> injections;
};

struct RunResult {
  Verdict verdict = Verdict::kNone;
  bool holdsImage = false;
  // kSecondUpdater: ports a second updater could open during the run.
  int secondUpdaterPorts = 0;
};

std::size_t Draw(std::mt19937& random, std::size_t low, std::size_t high) {
  return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

bool Chance(std::mt19937& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

// An addressed image: message i carries i in bytes 7 and 8, then random data.
void DrawImage(std::mt19937& random, RunPlan& plan, std::uint8_t model) {
  std::size_t lowest = NeedsFullBlock(plan.fault) ? kBlock : 1;
  // The last block must have fewer than 16 messages for it to be unplugged in.
  if (plan.fault == Fault::kUnpluggedInTail)
    lowest = kBlock + 1;
  plan.messages = Draw(random, lowest, kMostMessages);
  if (plan.fault == Fault::kUnpluggedInTail && plan.messages % kBlock == 0)
    --plan.messages;
  const std::size_t cap =
      std::clamp(kImageByteBudget / plan.messages, kShortestMessage, kLongestMessage);
  for (std::size_t i = 0; i < plan.messages; ++i) {
    const std::size_t length = Draw(random, kShortestMessage, cap);
    plan.longest = std::max(plan.longest, length);
    const std::size_t start = plan.image.size();
    plan.image.insert(plan.image.end(), korvane::kMessageHeader.begin(),
                      korvane::kMessageHeader.end());
    plan.image.insert(plan.image.end(), {korvane::kBuiltIndex4, model, korvane::kCmdFirmwareBlock,
                                         static_cast<std::uint8_t>(i & 0x7F),
                                         static_cast<std::uint8_t>((i >> 7) & 0x7F)});
    while (plan.image.size() - start + 1 < length)
      plan.image.push_back(static_cast<std::uint8_t>(Draw(random, 0, 0x7F)));
    plan.image.push_back(0xF7);
  }
}

// How many attempts in a row a fault spoils: mostly a few, sometimes more than
// the ten retries allow.
std::size_t DrawAttempts(std::mt19937& random) {
  return Chance(random, 0.15) ? 11 : Draw(random, 1, 3);
}

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

RunPlan DrawPlan(std::uint32_t seed, int index) {
  RunPlan plan;
  plan.seed = seed + static_cast<std::uint32_t>(index) * 7919u;
  std::mt19937 random(plan.seed);
  // Runs go round the fault kinds, so each kind gets its share.
  plan.fault = static_cast<Fault>(index % static_cast<int>(Fault::kCount));
  const std::uint8_t model = Chance(random, 0.5) ? 0x14 : 0x15;
  DrawImage(random, plan, model);
  plan.device.model = model;
  plan.device.name = model == 0x14 ? "TRV1000" : "TRW1000";
  // Every other run of a fault kind goes to a plain controller, where it can.
  plan.addressed =
      PlainCanStoreTwice(plan.fault) || (index / static_cast<int>(Fault::kCount)) % 2 == 0;
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
    case Fault::kForeignSysEx: {
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
      break;
    }
    case Fault::kForeignCommand: {
      std::uint8_t command = 0x35;
      while (command == 0x35)
        command = static_cast<std::uint8_t>(Draw(random, 0, 0x7F));
      const auto status = static_cast<std::uint8_t>(Draw(random, 0, 3));
      AddBlockFaults(random, plan, BlockFault{.status = status, .replyCommand = command}, false);
      break;
    }
    case Fault::kUnplugged:
      plan.device.unplugAfter = Draw(random, 0, fullBlocks - 1);
      break;
    case Fault::kPrepareFails:
    case Fault::kSendFails: {
      const MidiCall call =
          plan.fault == Fault::kPrepareFails ? MidiCall::kOutPrepareHeader : MidiCall::kOutLongMsg;
      const std::size_t count = Draw(random, 1, 2);
      for (std::size_t i = 0; i < count; ++i) {
        plan.callFaults.push_back(
            {.call = call,
             .result = plan.fault == Fault::kPrepareFails ? MMSYSERR_NOMEM : MMSYSERR_ERROR,
             .nth = static_cast<std::uint32_t>(Draw(random, 1, plan.messages))});
      }
      break;
    }
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
    case Fault::kUnpluggedInTail:
      plan.device.unplugAfterMessages = Draw(random, fullBlocks * kBlock, plan.messages);
      break;
    case Fault::kSecondUpdater:
    case Fault::kCount:
      break;
  }
  return plan;
}

Verdict ReadVerdict(const std::string& log) {
  if (log.find(korvane::kLostConnectionText) != std::string::npos)
    return Verdict::kLostConnection;
  if (log.find(korvane::kDangerText) != std::string::npos)
    return Verdict::kDanger;
  if (log.ends_with(korvane::kSuccessText))
    return Verdict::kSuccess;
  return Verdict::kNone;
}

RunResult Execute(const RunPlan& plan) {
  korvane::VirtualMidiServices midi;
  midi.AddInput("Soak In");
  midi.AddOutput("Soak Out");
  const int controller = midi.AttachController(0, {0}, plan.device);
  korvane::NullWindow window;
  korvane::UpdateState state(midi, window);
  state.image = plan.image;
  state.inputBufferSize = static_cast<std::uint32_t>(plan.longest);
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  state.portPairList = std::vector<korvane::PortPair>{{0, 0}, korvane::kPairListEnd};
  for (const CallFault& fault : plan.callFaults)
    midi.AddCallFault(fault);
  for (const Injection& injection : plan.injections)
    midi.InjectInput(0, injection.bytes, injection.delayMs);

  RunResult result;
  if (plan.fault == Fault::kSecondUpdater) {
    // Another updater, as in a second program, scans while this one sends.
    std::thread transfer([&state] { korvane::TransferWorker(state); });
    korvane::NullWindow otherWindow;
    korvane::UpdateState other(midi, otherWindow);
    result.secondUpdaterPorts = other.ports.OpenAllMidiIn(other.PortBufferSize()) +
                                other.ports.OpenAllMidiOut(other.PortBufferSize());
    other.ports.CloseAllMidiIn();
    other.ports.CloseAllMidiOut();
    transfer.join();
  } else {
    korvane::TransferWorker(state);
  }

  result.verdict = ReadVerdict(state.log.Text());
  result.holdsImage = midi.Controller(controller).AcceptedFirmwareWithPartial() == plan.image;
  state.ports.CloseAllMidiIn();
  state.ports.CloseAllMidiOut();
  return result;
}

struct Row {
  int runs = 0;
  int successes = 0;
  int dangers = 0;
  int lost = 0;
  int falseAlarms = 0;
  int mismatches = 0;
  int noVerdict = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t seed =
      argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 0)) : kDefaultSeed;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRuns;

  std::vector<RunPlan> plans;
  plans.reserve(static_cast<std::size_t>(runs));
  for (int i = 0; i < runs; ++i)
    plans.push_back(DrawPlan(seed, i));

  std::vector<RunResult> results(plans.size());
  std::atomic<std::size_t> next{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (std::size_t i = next++; i < plans.size(); i = next++)
        results[i] = Execute(plans[i]);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // One row per fault kind and controller model.
  std::vector<Row> rows(static_cast<std::size_t>(Fault::kCount) * 2);
  Row total;
  std::vector<std::string> notes;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const RunResult& r = results[i];
    // A second updater that got a port could send into the same controller.
    const bool mismatch =
        (r.verdict == Verdict::kSuccess && !r.holdsImage) || r.secondUpdaterPorts > 0;
    const std::size_t row =
        static_cast<std::size_t>(plans[i].fault) * 2 + (plans[i].addressed ? 0 : 1);
    for (Row* each : {&rows[row], &total}) {
      ++each->runs;
      each->successes += r.verdict == Verdict::kSuccess;
      each->dangers += r.verdict == Verdict::kDanger;
      each->lost += r.verdict == Verdict::kLostConnection;
      each->falseAlarms += r.verdict != Verdict::kSuccess && r.holdsImage;
      each->mismatches += mismatch;
      each->noVerdict += r.verdict == Verdict::kNone;
    }
    if (mismatch || r.verdict == Verdict::kNone) {
      notes.push_back("run " + std::to_string(i) + " (seed " + std::to_string(plans[i].seed) +
                      ", " + FaultName(plans[i].fault) + ", " +
                      (plans[i].addressed ? "addressed" : "plain") + ", " +
                      std::to_string(plans[i].messages) + " messages): " +
                      (r.verdict == Verdict::kNone ? "no verdict"
                       : r.secondUpdaterPorts > 0  ? "a second updater opened the ports"
                                                   : "success over wrong firmware"));
    }
  }

  std::printf("%-24s %-9s %5s %8s %7s %5s %12s %10s\n", "fault kind", "model", "runs", "success",
              "danger", "lost", "false alarm", "mismatch");
  auto print = [](const char* name, const char* model, const Row& row) {
    std::printf("%-24s %-9s %5d %8d %7d %5d %12d %10d\n", name, model, row.runs, row.successes,
                row.dangers, row.lost, row.falseAlarms, row.mismatches);
  };
  for (std::size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].runs > 0)
      print(FaultName(static_cast<Fault>(k / 2)), k % 2 == 0 ? "addressed" : "plain", rows[k]);
  }
  print("all", "", total);
  for (const std::string& note : notes)
    std::printf("%s\n", note.c_str());
  std::printf("seed %u, %d threads, %.1f s\n", seed, kThreads, seconds);
  std::printf("runs: %d, verdict mismatches: %d\n", total.runs, total.mismatches);
  return total.mismatches == 0 && total.noVerdict == 0 ? 0 : 1;
}

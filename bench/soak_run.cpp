#include "bench/soak_run.h"

#include <optional>
#include <thread>
#include <vector>

#include "run/null_window.h"
#include "run/update_state.h"
#include "update/port_scan.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"
#include "workflow/device_choice.h"

#ifdef KORVANE_SOAK_PORT_LOCK
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "midi/rtmidi/port_lock.h"
#endif

namespace korvane::soak {
namespace {

Verdict VerdictOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kSuccess:
      return Verdict::kSuccess;
    case RunOutcome::kDanger:
    case RunOutcome::kStopped:
      return Verdict::kDanger;
    case RunOutcome::kLostConnection:
      return Verdict::kLostConnection;
    case RunOutcome::kPortsUnusable:
      return Verdict::kDeviceSilent;
    default:
      return Verdict::kNone;
  }
}

// The verdict the log's last words give, to hold against the recorded one.
bool LogSaysSuccess(const std::string& log) {
  return log.ends_with(kSuccessText) && log.find(kDangerText) == std::string::npos;
}

// The chosen controller's entry in the scan's device list, as the user picks it.
std::optional<std::size_t> ChosenEntry(const UpdateState& state, PortPair chosen) {
  for (std::size_t i = 0; i < state.foundDevices.size(); ++i) {
    if (state.foundDevices[i].ports == chosen)
      return i;
  }
  return std::nullopt;
}

void Transfer(const RunPlan& plan, VirtualMidiServices& midi, UpdateState& state,
              RunResult& result) {
  if (plan.fault != Fault::kSecondUpdater) {
    TransferWorker(state);
    return;
  }
  // Another updater, as in a second program, scans while this one sends.
  std::thread transfer([&state] { TransferWorker(state); });
  NullWindow otherWindow;
  UpdateState other(midi, otherWindow);
  result.secondUpdaterPorts = other.ports.OpenAllMidiIn(other.PortBufferSize()) +
                              other.ports.OpenAllMidiOut(other.PortBufferSize());
  other.ports.CloseAllMidiIn();
  other.ports.CloseAllMidiOut();
  transfer.join();
}

#ifdef KORVANE_SOAK_PORT_LOCK
// Two updaters started with different runtime folders (a desktop session and
// an ssh one) take the lock of the same port: the second must be refused.
RunResult TakeLockTwice(const RunPlan& plan) {
  namespace fs = std::filesystem;
  RunResult result;
  std::error_code error;
  const fs::path base =
      fs::temp_directory_path(error) /
      ("korvane-soak-" + std::to_string(::getpid()) + "-" + std::to_string(plan.seed));
  const fs::path folders[2] = {base / "a", base / "b"};
  for (const fs::path& folder : folders) {
    fs::create_directories(folder, error);
    fs::permissions(folder, fs::perms::owner_all, error);
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> saved =
      runtime != nullptr ? std::optional<std::string>(runtime) : std::nullopt;
  const std::string key =
      rtmidi_backend::PortLockKey("JACK", false, "Soak Out " + std::to_string(plan.seed));

  ::setenv("XDG_RUNTIME_DIR", folders[0].c_str(), 1);
  rtmidi_backend::PortLock first;
  result.firstLockHeld = first.Take(key) == rtmidi_backend::PortLock::Outcome::kHeld;
  ::setenv("XDG_RUNTIME_DIR", folders[1].c_str(), 1);
  rtmidi_backend::PortLock second;
  result.secondLockHeld = second.Take(key) == rtmidi_backend::PortLock::Outcome::kHeld;

  if (saved)
    ::setenv("XDG_RUNTIME_DIR", saved->c_str(), 1);
  else
    ::unsetenv("XDG_RUNTIME_DIR");
  second.Release();
  first.Release();
  fs::remove_all(base, error);
  if (!result.firstLockHeld)
    result.problem = "the first take of the lock was not held";
  return result;
}
#endif

}  // namespace

RunResult Execute(const RunPlan& plan) {
#ifdef KORVANE_SOAK_PORT_LOCK
  if (plan.fault == Fault::kLockFolders)
    return TakeLockTwice(plan);
#endif
  VirtualMidiServices midi;
  // Pair p is input p and output p; nothing leaves the system before the
  // transfer, so these are the device numbers too.
  const std::size_t pairs = 1 + plan.bystanders.size();
  std::vector<int> controllers;
  for (std::size_t p = 0, bystander = 0; p < pairs; ++p) {
    const UINT input = midi.AddInput("Soak In " + std::to_string(p + 1));
    const UINT output = midi.AddOutput("Soak Out " + std::to_string(p + 1));
    controllers.push_back(midi.AttachController(
        output, {input}, p == plan.chosenPair ? plan.device : plan.bystanders[bystander++]));
  }
  const auto chosenId = static_cast<std::int32_t>(plan.chosenPair);
  const PortPair chosenPorts{chosenId, chosenId};

  NullWindow window;
  UpdateState state(midi, window);
  state.image = plan.image;
  state.inputBufferSize = static_cast<std::uint32_t>(plan.longest);
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  for (const CallFault& fault : plan.callFaults)
    midi.AddCallFault(fault);
  for (const Injection& injection : plan.injections)
    midi.InjectInput(static_cast<UINT>(chosenId), injection.bytes, injection.delayMs);

  RunResult result;
  bool transfer = true;
  if (plan.scan) {
    PortScanWorker(state);
    const std::optional<std::size_t> entry = ChosenEntry(state, chosenPorts);
    if (entry) {
      state.chosenDevice = entry;
      PrepareTransfer(state);
      if (plan.restartBeforeTransfer)
        midi.RestartController(controllers[plan.chosenPair]);
    } else {
      result.problem = "the scan did not list the chosen controller";
      transfer = false;
    }
  } else {
    state.UsePair(chosenPorts);
  }
  if (transfer)
    Transfer(plan, midi, state, result);

  result.log = state.log.Text();
  result.verdict = VerdictOf(state.Outcome());
  if (transfer && (result.verdict == Verdict::kSuccess) != LogSaysSuccess(result.log))
    result.problem = "the log and the recorded outcome disagree";
  for (std::size_t p = 0; p < pairs; ++p) {
    const DeviceModel controller = midi.Controller(controllers[p]);
    if (p == plan.chosenPair) {
      result.holdsImage = controller.AcceptedFirmwareWithPartial() == plan.image;
      result.chosenMessages = controller.FirmwareMessages();
      result.heldMessages = controller.AcceptedMessages();
    } else if (controller.FirmwareMessages() > 0 || controller.BlocksReceived() > 0) {
      result.unchosenReceived = true;
    }
  }
  state.ports.CloseAll();
  return result;
}

}  // namespace korvane::soak

// How patient the connection probe is: a controller that pauses for half a
// second, the pause starting anywhere from the end of a block to well into
// the probe, must never read as lost; one that is unplugged must be reported
// soon. Runs on the virtual MIDI system; prints the recovered share of the
// paused runs and, for the unplugged controller, the time from the block's
// last message to the verdict against one second.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "run/null_window.h"
#include "run/update_state.h"
#include "sim/synthetic_image.h"
#include "sim/virtual_midi_services.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMessages = 48;
constexpr std::uint32_t kPauseMs = 500;
// Pauses start this long after block 2's last message, in steps.
constexpr int kLatestStartMs = 1100;
constexpr int kStartStepMs = 50;

struct Outcome {
  korvane::RunOutcome outcome;
  double verdictAfterMs = 0;  // from block 2's last message
};

// Runs one transfer; once block 2's last message is out, after startMs,
// the controller pauses (or, with unplug, is gone).
Outcome Run(int startMs, bool queued, bool unplug) {
  korvane::VirtualMidiServices midi;
  midi.AddInput("In");
  midi.AddOutput("Out");
  const int controller = midi.AttachController(0, {0}, {.addressed = true});
  korvane::NullWindow window;
  korvane::UpdateState state(midi, window);
  state.image = korvane::MakeSyntheticImage(korvane::kModelTrw1000, kMessages, 10, 1, true);
  state.inputBufferSize = 20;
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  state.UsePair({0, 0});

  std::thread transfer([&state] { korvane::TransferWorker(state); });
  while (midi.SentMessages(0).size() < 32)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const Clock::time_point lastMessage = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(startMs));
  if (unplug)
    midi.UnplugController(controller);
  else
    midi.PauseController(controller, kPauseMs, queued);
  transfer.join();
  const double after =
      std::chrono::duration<double, std::milli>(Clock::now() - lastMessage).count();
  state.ports.CloseAll();
  return {state.Outcome(), after};
}

}  // namespace

int main() {
  int runs = 0;
  int recovered = 0;
  for (const bool queued : {false, true}) {
    for (int start = 0; start <= kLatestStartMs; start += kStartStepMs) {
      const Outcome outcome = Run(start, queued, false);
      const bool success = outcome.outcome == korvane::RunOutcome::kSuccess;
      ++runs;
      recovered += success;
      if (!success) {
        std::printf("pause of %u ms %d ms after a block (input %s): no success\n", kPauseMs, start,
                    queued ? "waits" : "lost");
      }
    }
  }
  std::printf("pauses of %u ms starting 0 to %d ms after a block: %d of %d ended in success\n",
              kPauseMs, kLatestStartMs, recovered, runs);

  // Unplugged at once: the block's wait and every probe attempt run out.
  const Outcome gone = Run(0, false, true);
  const bool lost = gone.outcome == korvane::RunOutcome::kLostConnection;
  std::printf("unplugged: %s %.0f ms after the block's last message\n",
              lost ? "lost connection reported" : "NOT reported as lost", gone.verdictAfterMs);
  std::printf("time to report an unplugged controller / 1 s: %.2f\n", gone.verdictAfterMs / 1000.0);
  return recovered == runs && lost ? 0 : 1;
}

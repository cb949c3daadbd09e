// Measures the real transfer over the virtual MIDI system against the time the
// pacing alone demands: 64 messages of 300 bytes, a controller that answers at
// once, three runs. Prints each run and, last, the median ratio.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "run/null_window.h"
#include "run/update_state.h"
#include "sim/synthetic_image.h"
#include "sim/virtual_midi_services.h"
#include "update/pacing.h"
#include "update/transfer.h"

namespace {

using korvane::PortPair;

constexpr std::size_t kMessages = 64;
constexpr std::size_t kMessageLength = 300;  // 0xF0 and 0xF7 included
constexpr int kRuns = 3;

struct RunResult {
  double wallMs = 0;
  double cpuMs = 0;
  bool succeeded = false;
};

RunResult RunOnce(const std::vector<std::uint8_t>& image) {
  korvane::VirtualMidiServices midi;
  midi.AddInput("Bench In");
  midi.AddOutput("Bench Out");
  midi.AttachController(0, {0});
  korvane::NullWindow window;
  korvane::UpdateState state(midi, window);
  state.image = image;
  state.inputBufferSize = kMessageLength;
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  state.UsePair({0, 0});

  const std::clock_t cpuStart = std::clock();
  const auto start = std::chrono::steady_clock::now();
  korvane::TransferWorker(state);
  const auto end = std::chrono::steady_clock::now();
  const std::clock_t cpuEnd = std::clock();

  RunResult result;
  result.wallMs = std::chrono::duration<double, std::milli>(end - start).count();
  result.cpuMs = 1000.0 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC;
  result.succeeded = state.Outcome() == korvane::RunOutcome::kSuccess;
  return result;
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> image =
      korvane::MakeSyntheticImage(korvane::kModelTrw1000, kMessages, kMessageLength, 1);
  const double minimumMs = static_cast<double>(kMessages * korvane::PacingMs(kMessageLength));
  std::vector<double> ratios;
  for (int run = 1; run <= kRuns; ++run) {
    const RunResult result = RunOnce(image);
    if (!result.succeeded) {
      std::printf("run %d: the transfer did not succeed\n", run);
      return 1;
    }
    const double ratio = result.wallMs / minimumMs;
    ratios.push_back(ratio);
    std::printf("run %d: transfer %.1f ms, protocol minimum %.0f ms, cpu %.1f ms, ratio %.3f\n",
                run, result.wallMs, minimumMs, result.cpuMs, ratio);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("transfer time / protocol minimum: %.3f\n", ratios[ratios.size() / 2]);
  return 0;
}

// A whole 64 KiB transfer over a real JACK server: 256 messages of 256 bytes
// from the real RtMidi back-end to a korvane-sim process, timed from the
// transfer's start to its verdict. Prints the rate against the DIN wire rate
// (31,250 baud, 10 bits a byte: 3,125 bytes/s); the protocol's pacing alone
// (one millisecond per three bytes) allows 96 %.
//
// Usage: transfer-over-jack [RUNS]. Needs jackd (scripts/install-deps).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "midi/rtmidi/rtmidi_services.h"
#include "run/null_window.h"
#include "run/update_state.h"
#include "sim/synthetic_image.h"
#include "tests/e2e/child_process.h"
#include "tests/support/jack_server.h"
#include "update/device_messages.h"
#include "update/port_scan.h"
#include "update/transfer.h"
#include "update/transfer_texts.h"

namespace {

constexpr std::size_t kMessages = 256;
constexpr std::size_t kLength = 256;
constexpr double kWireBytesPerSecond = 3125.0;

// One transfer's seconds, or a negative value when it did not succeed.
double TimeOneTransfer(const std::vector<std::uint8_t>& image) {
  korvane::RtMidiServices midi;
  korvane::NullWindow window;
  korvane::UpdateState state(midi, window);
  state.image = image;
  state.inputBufferSize = kLength;
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  korvane::PortScanWorker(state);
  if (state.foundDevices.empty()) {
    std::printf("no controller answered the scan\n");
    return -1;
  }
  state.chosenDevice = 0;
  const auto start = std::chrono::steady_clock::now();
  korvane::TransferWorker(state);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.ports.CloseAllMidiOut();
  state.ports.CloseAllMidiIn();
  if (!state.log.Text().ends_with(korvane::kSuccessText)) {
    std::printf("the transfer did not succeed:\n%s\n", state.log.Text().c_str());
    return -1;
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  korvane::testing::JackServer server;
  if (const std::string error = server.Start(); !error.empty()) {
    std::printf("no JACK server: %s\n", error.c_str());
    return 1;
  }
  korvane::testing::ChildProcess sim;
  const std::string prefix = std::string(KORVANE_BINARY_DIR) + "/bench-transfer-over-jack-sim";
  if (const std::string error = sim.Start({KORVANE_SIM_PATH, "--api", "jack"}, prefix);
      !error.empty()) {
    std::printf("korvane-sim did not start: %s\n", error.c_str());
    return 1;
  }
  for (int i = 0; i < 600 && sim.Stdout().find("korvane-sim: ready") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

  const korvane::Bytes image =
      korvane::MakeSyntheticImage(korvane::kModelTrw1000, kMessages, kLength, 1);
  std::vector<double> shares;
  for (int run = 1; run <= runs; ++run) {
    const double seconds = TimeOneTransfer(image);
    if (seconds < 0)
      return 1;
    const double rate = static_cast<double>(image.size()) / seconds;
    shares.push_back(rate / kWireBytesPerSecond);
    std::printf("run %d: %zu bytes in %.2f s, %.0f bytes/s, %.3f of the DIN wire rate\n", run,
                image.size(), seconds, rate, shares.back());
  }
  std::sort(shares.begin(), shares.end());
  std::printf("transfer rate / DIN wire rate: %.3f\n", shares[shares.size() / 2]);
  return 0;
}

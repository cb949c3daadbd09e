// Concurrent updates over a real JACK server, as `korvane-flash --all` runs
// them: one scan finds N korvane-sim processes, then each is updated on its
// own pair and thread (DeviceRun). Prints each run's rate as a share of the
// DIN wire rate (31,250 baud, 10 bits a byte: 3,125 bytes/s; the pacing alone
// allows 0.96), for one controller and for four at once.
//
// Usage: concurrent-over-jack [N ...] (default: 1 4). Needs jackd.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/rtmidi/rtmidi_services.h"
#include "run/null_window.h"
#include "run/update_state.h"
#include "sim/synthetic_image.h"
#include "tests/e2e/child_process.h"
#include "tests/support/jack_server.h"
#include "workflow/all_devices.h"

namespace {

constexpr std::size_t kMessages = 128;
constexpr std::size_t kLength = 256;
constexpr double kWireBytesPerSecond = 3125.0;

using korvane::testing::ChildProcess;

bool StartControllers(std::size_t count, std::vector<std::unique_ptr<ChildProcess>>& sims) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::string port = "Bench " + std::to_string(i + 1);
    auto sim = std::make_unique<ChildProcess>();
    const std::string prefix =
        std::string(KORVANE_BINARY_DIR) + "/bench-concurrent-sim-" + std::to_string(i + 1);
    if (const std::string error =
            sim->Start({KORVANE_SIM_PATH, "--api", "jack", "--port", port}, prefix);
        !error.empty()) {
      std::printf("korvane-sim did not start: %s\n", error.c_str());
      return false;
    }
    sims.push_back(std::move(sim));
  }
  // A listed port may not carry messages yet; each controller says when it does.
  for (const auto& sim : sims) {
    for (int i = 0; i < 600 && sim->Stdout().find("korvane-sim: ready") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The lowest share of the wire rate that any of the runs reached; negative
// when a run did not end in success or the scan found a different number.
double UpdateAtOnce(std::size_t count, const std::string& file, std::size_t bytes) {
  korvane::RtMidiServices midi;
  korvane::NullWindow window;
  korvane::UpdateState scan(midi, window);
  if (!korvane::ScanForDevices(scan, file) || scan.foundDevices.size() != count) {
    std::printf("%zu controllers: the scan found %zu\n", count, scan.foundDevices.size());
    return -1;
  }
  std::vector<std::unique_ptr<korvane::DeviceRun>> runs;
  std::vector<std::unique_ptr<korvane::NullWindow>> windows;
  for (std::size_t i = 0; i < count; ++i) {
    windows.push_back(std::make_unique<korvane::NullWindow>());
    runs.push_back(std::make_unique<korvane::DeviceRun>(scan, i, *windows.back()));
  }
  for (auto& run : runs)
    run->Start();
  double lowest = 1e9;
  for (auto& run : runs) {
    run->Join();
    if (run->State().Outcome() != korvane::RunOutcome::kSuccess) {
      std::printf("%s: no success\n", run->Device().name.c_str());
      return -1;
    }
    const double share = static_cast<double>(bytes) / run->Duration().count() / kWireBytesPerSecond;
    std::printf("  %s: %zu bytes in %.2f s, %.3f of the DIN wire rate\n",
                run->Device().name.c_str(), bytes, run->Duration().count(), share);
    lowest = std::min(lowest, share);
  }
  return lowest;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> counts;
  for (int i = 1; i < argc; ++i)
    counts.push_back(static_cast<std::size_t>(std::max(1, std::atoi(argv[i]))));
  if (counts.empty())
    counts = {1, 4};

  const std::string file = std::string(KORVANE_BINARY_DIR) + "/bench-concurrent.syx";
  const korvane::Bytes image =
      korvane::MakeSyntheticImage(korvane::kModelTrw1000, kMessages, kLength, 1);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  int status = 0;
  for (const std::size_t count : counts) {
    korvane::testing::JackServer server;
    if (const std::string error = server.Start(); !error.empty()) {
      std::printf("no JACK server: %s\n", error.c_str());
      return 1;
    }
    std::vector<std::unique_ptr<ChildProcess>> sims;
    if (!StartControllers(count, sims))
      return 1;
    std::printf("%zu controller(s) at once:\n", count);
    const double lowest = UpdateAtOnce(count, file, image.size());
    if (lowest < 0) {
      status = 1;
      continue;
    }
    std::printf("%zu at once, lowest rate / DIN wire rate: %.3f\n", count, lowest);
  }
  std::filesystem::remove(file);
  return status;
}

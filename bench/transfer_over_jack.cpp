// A whole 64 KiB transfer over a real JACK server: 256 messages of 256 bytes
// from the real back-end to a korvane-sim process, timed from the transfer's
// start to its verdict, first with the controller alone on the server, then
// with N other silent MIDI programs beside it (other-jack-ports: N clients of
// one input and one output each), as a user's studio has them.
//
// Prints, for each: the rate against the DIN wire rate (31,250 baud, 10 bits a
// byte: 3,125 bytes/s; the protocol's pacing alone, one millisecond per three
// bytes, allows 96 %), this process's CPU share of one core during the
// transfer (/proc/self/stat) and its context switches per second (every
// thread's, /proc/self/task/*/status); then the time with the others over the
// time alone. This process is the updater: the engine and the back-end that
// korvane-flash runs, without its terminal.
//
// Usage: transfer-over-jack [RUNS [OTHERS]]   (defaults 3 and 20; OTHERS 0: alone only)
// Needs jackd (scripts/install-deps).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

// This process's CPU seconds, all threads, the ended ones included.
double CpuSeconds() {
  std::ifstream file("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Fields after the command's closing parenthesis, from the third on.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::vector<std::string> f;
  for (std::string field; fields >> field;)
    f.push_back(field);
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::stod(f[11]) + std::stod(f[12])) / ticks;  // utime, stime
}

// Context switches of the threads running now, voluntary or not.
long ContextSwitches() {
  long total = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr)
    return 0;
  while (dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.')
      continue;
    std::ifstream status(std::string("/proc/self/task/") + task->d_name + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos)
        total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
  }
  closedir(tasks);
  return total;
}

struct Run {
  double seconds = -1;  // negative: the transfer did not succeed
  double cpuShare = 0;
  double switchesPerSecond = 0;
};

Run TimeOneTransfer(const std::vector<std::uint8_t>& image) {
  korvane::RtMidiServices midi;
  korvane::NullWindow window;
  korvane::UpdateState state(midi, window);
  state.image = image;
  state.inputBufferSize = kLength;
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());
  korvane::PortScanWorker(state);
  Run run;
  auto found = std::find_if(state.foundDevices.begin(), state.foundDevices.end(),
                            [](const auto& d) { return korvane::TrimmedName(d) == "KORVANE-SIM"; });
  if (found == state.foundDevices.end()) {
    std::printf("the controller did not answer the scan\n");
    return run;
  }
  state.chosenDevice = static_cast<std::size_t>(found - state.foundDevices.begin());
  const double cpu = CpuSeconds();
  const long switches = ContextSwitches();
  const auto start = std::chrono::steady_clock::now();
  korvane::TransferWorker(state);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuShare = (CpuSeconds() - cpu) / seconds;
  run.switchesPerSecond = static_cast<double>(ContextSwitches() - switches) / seconds;
  state.ports.CloseAllMidiOut();
  state.ports.CloseAllMidiIn();
  if (state.Outcome() != korvane::RunOutcome::kSuccess) {
    std::printf("the transfer did not succeed:\n%s\n", state.log.Text().c_str());
    return run;
  }
  run.seconds = seconds;
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Summary {
  double seconds, share, cpu, switches;
};

// RUNS transfers; false when one failed.
bool Measure(const korvane::Bytes& image, int runs, const char* label, Summary& summary) {
  std::vector<double> seconds, cpu, switches;
  for (int r = 1; r <= runs; ++r) {
    const Run run = TimeOneTransfer(image);
    if (run.seconds < 0)
      return false;
    seconds.push_back(run.seconds);
    cpu.push_back(run.cpuShare);
    switches.push_back(run.switchesPerSecond);
    std::printf(
        "%s, run %d: %zu bytes in %.2f s, %.3f of the DIN wire rate, CPU %.2f %% of a "
        "core, %.0f context switches/s\n",
        label, r, image.size(), run.seconds,
        static_cast<double>(image.size()) / run.seconds / kWireBytesPerSecond, 100 * run.cpuShare,
        run.switchesPerSecond);
  }
  summary.seconds = Median(seconds);
  summary.share = static_cast<double>(image.size()) / summary.seconds / kWireBytesPerSecond;
  summary.cpu = Median(cpu);
  summary.switches = Median(switches);
  std::printf(
      "%s: transfer rate / DIN wire rate %.3f, CPU %.2f %% of a core, %.0f context "
      "switches/s (medians)\n",
      label, summary.share, 100 * summary.cpu, summary.switches);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int others = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;
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
  Summary alone{};
  if (!Measure(image, runs, "alone", alone))
    return 1;
  if (others == 0)
    return 0;
  korvane::testing::ChildProcess otherPorts;
  const std::string otherPrefix = std::string(KORVANE_BINARY_DIR) + "/bench-transfer-others";
  if (const std::string error =
          otherPorts.Start({KORVANE_OTHERS_PATH, std::to_string(others)}, otherPrefix);
      !error.empty()) {
    std::printf("other-jack-ports did not start: %s\n", error.c_str());
    return 1;
  }
  for (int i = 0; i < 600 && otherPorts.Stdout().find("ready") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string label = "with " + std::to_string(others) + " other pairs";
  Summary crowded{};
  if (!Measure(image, runs, label.c_str(), crowded))
    return 1;
  std::printf("transfer time with %d other pairs / alone: %.3f\n", others,
              crowded.seconds / alone.seconds);
  return 0;
}

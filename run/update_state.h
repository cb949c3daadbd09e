// Everything the main dialog owns for the whole run, without Qt: the update
// image and its path, InputBufferSize, the port set, the devices found, the log
// and the busy state. The Qt window, korvane-flash and the tests each hold one.
//
// Ownership between threads: the workflow hands the state from step to step,
// so at most one worker works on it at a time; the window thread reads the
// busy counter and the log at any time (both are safe for that).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_services.h"
#include "run/busy_state.h"
#include "run/found_device.h"
#include "run/log_console.h"
#include "run/outcome.h"
#include "run/port_set.h"
#include "run/window.h"
#include "run/worker_threads.h"

namespace korvane {

// The longest reply the protocol defines: an identity reply with a 12-character
// name (indexes 0 to 18) and its 0xF7. Input buffers are never smaller, so that
// reading a reply's name or status never leaves the buffer.
constexpr std::uint32_t kLongestReplyLength = 20;

class UpdateState {
 public:
  UpdateState(MidiServices& midi, Window& window)
      : midi(midi), window(window), log(&window), busy(&window), ports(midi, log) {}
  UpdateState(const UpdateState&) = delete;
  UpdateState& operator=(const UpdateState&) = delete;

  // The size every port buffer is opened with. An input takes only replies
  // (anything longer is another device's, handed back unread), and an output
  // grows to a firmware message only on the chosen pair, during the transfer:
  // a file of long messages costs no memory on the ports it never uses.
  std::uint32_t PortBufferSize() const { return kLongestReplyLength; }

  MidiServices& midi;
  Window& window;
  LogConsole log;
  BusyState busy;
  PortSet ports;

  std::optional<std::string> filePath;
  std::optional<std::vector<std::uint8_t>> image;  // none until a load, and after a failure
  // The file's longest message (0xF0 to 0xF7), as the check measured it.
  std::uint32_t inputBufferSize = 128;
  // What the last scan found, and the device the update goes to: an index
  // into it, none until the user chose.
  std::vector<FoundDevice> foundDevices;
  std::optional<std::size_t> chosenDevice;
  // The update goes to this pair without a scan (tests, benches): a device
  // with no name, so the check before the first block takes any answer.
  void UsePair(PortPair ports) {
    foundDevices = {FoundDevice{.ports = ports}};
    chosenDevice = 0;
  }
  const FoundDevice* ChosenDevice() const {
    return chosenDevice && *chosenDevice < foundDevices.size() ? &foundDevices[*chosenDevice]
                                                               : nullptr;
  }

  // Asked for when the window goes away or the terminal gets Ctrl-C; the scan
  // and the transfer test it between two ports or two messages.
  std::atomic<bool> stopRequested{false};

  // Set once a firmware message of this run went out: from then on an
  // ending other than success leaves the controller in danger.
  std::atomic<bool> firmwareSent{false};
  // How much of the image the controller confirmed, by its block replies;
  // all of it once the run ended in success.
  std::atomic<std::size_t> bytesConfirmed{0};

  // What ended the run so far, written by the step or worker that ended it
  // before it posts its next step.
  std::atomic<RunOutcome> outcome{RunOutcome::kNone};
  void Record(RunOutcome what) { outcome.store(what, std::memory_order_release); }
  RunOutcome Outcome() const { return outcome.load(std::memory_order_acquire); }

  // Declared last: destroyed first, so running workers are joined before
  // anything they use goes away.
  WorkerThreads workers;
};

}  // namespace korvane

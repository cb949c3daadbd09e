// A virtual MIDI system, a recording window and the dialog state over them,
// with update images made to measure: what the scan and transfer tests share.
#pragma once

#include <cstdint>
#include <vector>

#include "run/update_state.h"
#include "sim/virtual_midi_services.h"
#include "tests/support/recording_window.h"

namespace korvane::testing {

// The log as the window leaves it before an update: a greeting, so that the
// first block line has a line to replace.
inline constexpr const char* kGreeting = "Welcome";

struct ProcedureRig {
  ProcedureRig() { state.log.AppendLog(kGreeting); }

  // Opens every port with the buffer size the workflow uses.
  void OpenPorts() { OpenPorts(state.PortBufferSize()); }
  void OpenPorts(std::uint32_t bufferSize) {
    state.ports.OpenAllMidiIn(bufferSize);
    state.ports.OpenAllMidiOut(bufferSize);
  }

  // Declared in this order so that the state (and its workers) go first.
  VirtualMidiServices midi;
  RecordingWindow window;
  UpdateState state{midi, window};
};

// count firmware block messages of the given length (at least 8) for model
// 0x15. From 10 bytes on each carries its index in bytes 7 and 8, so that an
// addressed controller can place it.
inline std::vector<std::uint8_t> MakeImage(std::size_t count, std::size_t length = 10) {
  std::vector<std::uint8_t> image;
  for (std::size_t i = 0; i < count; ++i) {
    std::vector<std::uint8_t> message = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x34};
    if (length >= 10) {
      message.push_back(static_cast<std::uint8_t>(i & 0x7F));
      message.push_back(static_cast<std::uint8_t>((i >> 7) & 0x7F));
    }
    while (message.size() + 1 < length) {
      message.push_back(static_cast<std::uint8_t>((i * 7 + message.size()) & 0x7F));
    }
    message.push_back(0xF7);
    image.insert(image.end(), message.begin(), message.end());
  }
  return image;
}

// The messages of an image, split at every 0xF7.
inline std::vector<std::vector<std::uint8_t>> SplitMessages(
    const std::vector<std::uint8_t>& image) {
  std::vector<std::vector<std::uint8_t>> messages(1);
  for (std::uint8_t byte : image) {
    messages.back().push_back(byte);
    if (byte == 0xF7)
      messages.emplace_back();
  }
  messages.pop_back();
  return messages;
}

}  // namespace korvane::testing

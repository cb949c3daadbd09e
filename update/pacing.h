// Pacing of firmware messages: MIDI runs at 31,250 baud with 10 bits a byte,
// 3,125 bytes/s; holding every message one millisecond per three bytes uses 96%
// of that, so the controller's input never overruns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

constexpr std::uint32_t kBytesPerMillisecond = 3;

// The time a message of this length (0xF0 and 0xF7 included) is held.
constexpr std::uint32_t PacingMs(std::size_t length) {
  return static_cast<std::uint32_t>(length / kBytesPerMillisecond);
}

// Returns PacingMs(length) after it was called, never sooner, with one wake-up.
void HoldMessage(std::size_t length);

}  // namespace korvane

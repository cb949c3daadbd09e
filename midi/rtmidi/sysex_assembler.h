// Puts SysEx back together from the events of one JACK input: a message may
// come as one event or split over several, the first beginning with 0xF0 and
// the last ending with 0xF7. Short messages are not kept; real-time bytes may
// come between the parts.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace korvane::rtmidi_backend {

class SysexAssembler {
 public:
  // Longer messages keep their first kLongest bytes: no input buffer of the
  // engine's is near that size, and memory stays bounded.
  static constexpr std::size_t kLongest = 1 << 16;

  // Takes one event; returns the whole message when this was its last part,
  // otherwise nothing. The message stays valid until the next call.
  std::span<const unsigned char> Add(std::span<const unsigned char> event);

 private:
  std::vector<unsigned char> message_;
  bool inside_ = false;
};

}  // namespace korvane::rtmidi_backend

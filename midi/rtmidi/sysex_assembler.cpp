#include "midi/rtmidi/sysex_assembler.h"

#include <algorithm>

namespace korvane::rtmidi_backend {

std::span<const unsigned char> SysexAssembler::Add(std::span<const unsigned char> event) {
  if (event.empty() || event[0] >= 0xF8)
    return {};
  if (event[0] == 0xF0) {
    message_.clear();
    inside_ = true;
  } else if (!inside_ || event[0] >= 0x80) {
    // A status byte other than a message's start ends whatever was under way.
    inside_ = false;
    return {};
  }
  const std::size_t room = kLongest - std::min(kLongest, message_.size());
  message_.insert(message_.end(), event.begin(),
                  event.begin() + static_cast<std::ptrdiff_t>(std::min(room, event.size())));
  if (event.back() != 0xF7)
    return {};
  inside_ = false;
  return message_;
}

}  // namespace korvane::rtmidi_backend

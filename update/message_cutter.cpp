#include "update/message_cutter.h"

#include <algorithm>

#include "update/device_messages.h"

namespace korvane {

std::optional<CutMessage> CutNextMessage(std::span<const std::uint8_t> image,
                                         std::size_t& position) {
  std::optional<std::size_t> start;
  for (std::size_t i = position; i < image.size(); ++i) {
    if (image[i] == kSysExStart && !start) {
      start = i;
    } else if (image[i] == kSysExEnd && start) {
      position = i + 1;
      return CutMessage{*start, i + 1 - *start};
    }
    // An 0xF7 before any 0xF0 closes nothing: it is passed over.
  }
  position = image.size();
  return std::nullopt;
}

std::size_t CountMessageStarts(std::span<const std::uint8_t> image) {
  return static_cast<std::size_t>(std::count(image.begin(), image.end(), kSysExStart));
}

std::size_t LongestCutMessage(std::span<const std::uint8_t> image) {
  std::size_t longest = 0;
  std::size_t position = 0;
  while (const std::optional<CutMessage> message = CutNextMessage(image, position))
    longest = std::max(longest, message->length);
  return longest;
}

}  // namespace korvane

// Cutting the update image into the messages the transfer sends, one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace korvane {

struct CutMessage {
  std::size_t offset = 0;  // of its 0xF0
  std::size_t length = 0;  // 0xF0 and 0xF7 included
};

// The next message at or after position: from the first 0xF0 to the next 0xF7,
// an 0xF0 in between being part of it. Moves position past its 0xF7. Bytes
// that belong to no message (anything before the 0xF0, an 0xF7 with no 0xF0
// before it, a tail with no closing 0xF7) are passed over and never returned;
// with no message left, position moves to the end and nothing is returned.
std::optional<CutMessage> CutNextMessage(std::span<const std::uint8_t> image,
                                         std::size_t& position);

// Messages are counted by their 0xF0 bytes, as the block totals are.
std::size_t CountMessageStarts(std::span<const std::uint8_t> image);

// The length of the longest message the transfer would cut from the image.
std::size_t LongestCutMessage(std::span<const std::uint8_t> image);

}  // namespace korvane

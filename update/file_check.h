// The check of an update image, apart from the worker that logs it: pure, so
// the worker, the tests and the fuzz target share it. Reads only inside the
// image it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace korvane {

enum class FileFault {
  kNone,
  kHeader,    // the image does not begin with F0 00 20 32
  kModel,     // the first message names no known controller
  kMessage,   // some 0xF0 lacks 00 20 32 behind it or 0x34 six places after it
  kUnclosed,  // the image ends inside a message: a download cut short
};

struct FileCheckResult {
  FileFault fault = FileFault::kNone;
  // The first message's model byte, once the image's header has passed; none
  // when the header failed or the image ends before index 5.
  std::optional<std::uint8_t> model;
  // With kMessage: the index of the 0xF0 whose header failed.
  std::size_t faultIndex = 0;
  // The longest distance from an opening 0xF0 to its closing 0xF7.
  std::size_t longestDistance = 0;
};

FileCheckResult CheckUpdateImage(std::span<const std::uint8_t> image);

// The model byte of the image's first message, when the image reaches it.
std::optional<std::uint8_t> ImageModelByte(std::span<const std::uint8_t> image);

}  // namespace korvane

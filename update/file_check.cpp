#include "update/file_check.h"

#include "update/device_messages.h"

namespace korvane {

namespace {

// The header of a firmware block message at index start: F0 00 20 32, and the
// command byte six places after the 0xF0. Both must lie inside the image.
bool BlockHeaderAt(std::span<const std::uint8_t> image, std::size_t start) {
  const std::span<const std::uint8_t> rest = image.subspan(start);
  return HasMessageHeader(rest) && rest.size() > kCommandIndex &&
         rest[kCommandIndex] == kCmdFirmwareBlock;
}

}  // namespace

std::optional<std::uint8_t> ImageModelByte(std::span<const std::uint8_t> image) {
  if (image.size() <= kModelIndex)
    return std::nullopt;
  return image[kModelIndex];
}

FileCheckResult CheckUpdateImage(std::span<const std::uint8_t> image) {
  FileCheckResult result;
  if (!HasMessageHeader(image)) {
    result.fault = FileFault::kHeader;
    return result;
  }
  result.model = ImageModelByte(image);
  if (!result.model || ModelName(*result.model) == nullptr) {
    result.fault = FileFault::kModel;
    return result;
  }

  // Index of the 0xF0 that opened the current message. A sentinel rather than
  // std::optional: GCC 12 at -O2 warns that the optional may be uninitialized.
  constexpr std::size_t kNoMessage = static_cast<std::size_t>(-1);
  std::size_t open = kNoMessage;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (image[i] == kSysExStart) {
      // A second 0xF0 before the 0xF7 is tested but does not restart the count.
      if (open == kNoMessage)
        open = i;
      if (!BlockHeaderAt(image, i)) {
        result.fault = FileFault::kMessage;
        result.faultIndex = i;
        return result;
      }
    } else if (image[i] == kSysExEnd) {
      // A stray 0xF7 outside any message measures nothing: it is never sent
      // as a message, and counting it from the start of the file would size
      // every input buffer by its position.
      if (open != kNoMessage && i - open > result.longestDistance)
        result.longestDistance = i - open;
      open = kNoMessage;
    }
  }
  // A good file never ends inside a message. One that does was cut short,
  // and its tail could never be sent.
  if (open != kNoMessage)
    result.fault = FileFault::kUnclosed;
  return result;
}

}  // namespace korvane

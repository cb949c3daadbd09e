#include "update/device_messages.h"

#include <algorithm>

#include "run/texts.h"

namespace korvane {

namespace {

// The four header bytes are compared as one value, assembled byte by byte so
// the result does not depend on the host's byte order or on alignment.
std::uint32_t LittleEndian32(std::span<const std::uint8_t> buffer) {
  return static_cast<std::uint32_t>(buffer[0]) | (static_cast<std::uint32_t>(buffer[1]) << 8) |
         (static_cast<std::uint32_t>(buffer[2]) << 16) |
         (static_cast<std::uint32_t>(buffer[3]) << 24);
}

bool HasCommand(std::span<const std::uint8_t> buffer, std::uint8_t command) {
  return HasMessageHeader(buffer) && buffer.size() > kCommandIndex &&
         buffer[kCommandIndex] == command;
}

}  // namespace

std::size_t BuildIdentityRequest(std::uint8_t model, std::span<std::uint8_t> out) {
  if (out.size() < kIdentityRequestLength)
    return 0;
  const std::uint8_t request[kIdentityRequestLength] = {kMessageHeader[0],   kMessageHeader[1],
                                                        kMessageHeader[2],   kMessageHeader[3],
                                                        kBuiltIndex4,        model,
                                                        kCmdIdentityRequest, kSysExEnd};
  std::copy(std::begin(request), std::end(request), out.begin());
  return kIdentityRequestLength;
}

bool HasMessageHeader(std::span<const std::uint8_t> buffer) {
  return buffer.size() >= 4 && LittleEndian32(buffer) == kMessageHeaderValue;
}

bool IsIdentityReply(std::span<const std::uint8_t> buffer) {
  return HasCommand(buffer, kCmdIdentityReply);
}

std::string DeviceNameFromReply(std::span<const std::uint8_t> buffer) {
  std::string name;
  for (std::size_t i = kNameIndex; i < buffer.size() && name.size() < kDeviceNameLength; ++i) {
    if (buffer[i] == 0)
      break;
    name.push_back(static_cast<char>(buffer[i]));
  }
  return std::string(kDeviceNameLength - name.size(), ' ') + name;
}

bool IsReplyTo(std::span<const std::uint8_t> buffer, std::uint8_t sentCommand) {
  return HasCommand(buffer, static_cast<std::uint8_t>(sentCommand + 1));
}

std::optional<std::uint8_t> BlockReplyStatus(std::span<const std::uint8_t> buffer) {
  if (buffer.size() <= kStatusIndex)
    return std::nullopt;
  return buffer[kStatusIndex];
}

const char* BlockStatusText(std::uint8_t status) {
  switch (status) {
    case 0:
      return kOkText;
    case 1:
      return kSequenceErrorText;
    case 2:
      return kEraseErrorText;
    case 3:
      return kReprogramErrorText;
    default:
      return kUnknownErrorText;
  }
}

const char* ModelName(std::uint8_t model) {
  // The table's names are literals, so their data ends in NUL.
  const ControllerModel* found = FindModel(model);
  return found != nullptr ? found->name.data() : nullptr;
}

}  // namespace korvane

// A port record's long-message buffer as bytes, bounded by both the header's
// dwBufferLength and the buffer the record owns, so that no read of a reply
// can leave it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "run/port_record.h"

namespace korvane {

inline std::span<std::uint8_t> HeaderBytes(PortRecord& record) {
  if (!record.header || record.header->lpData == nullptr)
    return {};
  const std::size_t size =
      std::min<std::size_t>(record.header->dwBufferLength, record.buffer.size());
  return {reinterpret_cast<std::uint8_t*>(record.header->lpData), size};
}

}  // namespace korvane

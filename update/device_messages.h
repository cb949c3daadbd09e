// The System Exclusive messages exchanged with a controller, byte by byte:
// what the system builds and what it tests in what it receives. Every test
// reads only inside the buffer it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "midi/protocol.h"

namespace korvane {

// Writes F0 00 20 32 7F <model> 01 F7 into out; returns 8, or 0 when out is shorter.
std::size_t BuildIdentityRequest(std::uint8_t model, std::span<std::uint8_t> out);

// The first four bytes are F0 00 20 32.
bool HasMessageHeader(std::span<const std::uint8_t> buffer);

// Message header and command byte 0x02.
bool IsIdentityReply(std::span<const std::uint8_t> buffer);

// The name from index 7 as "%12.12s" gives it: up to the first zero byte or the
// end of the buffer, at most 12 characters, right-aligned in 12.
std::string DeviceNameFromReply(std::span<const std::uint8_t> buffer);

// Message header and the command byte one above the sent one.
bool IsReplyTo(std::span<const std::uint8_t> buffer, std::uint8_t sentCommand);

// The status byte of a block reply, when the buffer reaches index 9.
std::optional<std::uint8_t> BlockReplyStatus(std::span<const std::uint8_t> buffer);

// "OK", "Sequence error", "Erase error", "Reprogram error" or "Unknown error".
const char* BlockStatusText(std::uint8_t status);

// "TRV1000", "TRW1000", or null for any other model byte.
const char* ModelName(std::uint8_t model);

}  // namespace korvane

// The System Exclusive messages exchanged with a controller, byte by byte:
// what the system builds and what it tests in what it receives. Every test
// reads only inside the buffer it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

// F0 00 20 32 read as one little-endian 32-bit value.
constexpr std::uint32_t kMessageHeaderValue = 0x322000F0;

constexpr std::size_t kModelIndex = 5;
constexpr std::size_t kCommandIndex = 6;
constexpr std::size_t kNameIndex = 7;
constexpr std::size_t kStatusIndex = 9;
constexpr std::size_t kDeviceNameLength = 12;

constexpr std::uint8_t kModelTrv1000 = 0x14;
constexpr std::uint8_t kModelTrw1000 = 0x15;

constexpr std::uint8_t kCmdIdentityRequest = 0x01;
constexpr std::uint8_t kCmdIdentityReply = 0x02;
constexpr std::uint8_t kCmdFirmwareBlock = 0x34;
constexpr std::uint8_t kCmdBlockReply = 0x35;

constexpr std::size_t kIdentityRequestLength = 8;

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

// Synthetic update files: runs of firmware block messages that pass the file
// check, with data bytes drawn from a seeded generator so that a run can be
// repeated byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/device_model.h"

namespace korvane {

// messages firmware block messages of length bytes each (at least 8, 0xF0 and
// 0xF7 included): F0 00 20 32 7F <model> 34, data bytes below 0x80, F7.
// Addressed: data bytes 7 and 8 hold the message's index (low 7 bits, then
// high 7 bits) in messages long enough to carry it.
Bytes MakeSyntheticImage(std::uint8_t model, std::size_t messages, std::size_t length,
                         std::uint32_t seed, bool addressed = false);

// Writes bytes to path, replacing the file; an error text, or empty on success.
std::string WriteBytesToFile(const std::string& path, const Bytes& bytes);

}  // namespace korvane

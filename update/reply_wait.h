// How long the updater waits for a controller's reply, in the discovery, after
// every block and in the connection probe.
#pragma once

#include <cstdint>

namespace korvane {

inline constexpr std::uint32_t kReplyWaitMs = 300;

}  // namespace korvane

// The connection probe: after a block went unanswered, the transfer asks the
// controller for its identity to learn whether it is still there.
#pragma once

#include <cstdint>
#include <optional>

namespace korvane {

class UpdateState;
struct PortRecord;

// A block reply that came after the transfer's wait: the probe hands it back
// like anything else that is not its answer, and keeps its status here.
struct LateBlockReply {
  std::uint8_t sentCommand = 0;  // the command byte of the block's last message
  std::optional<std::uint8_t> status = std::nullopt;
};

// Sends the identity request for the model, twice, and tells whether an
// identity reply arrives on the input within 300 ms; a controller that does
// not answer is asked again, up to kProbeAttempts times in all. Anything else
// that arrives meanwhile (a block reply that came late) is handed back to the
// driver and the wait goes on. The output header is left prepared.
bool ProbeConnection(UpdateState& state, PortRecord& input, PortRecord& output,
                     std::uint8_t modelByte, LateBlockReply* late = nullptr);

// Asks the chosen controller for its identity on exactly its pair before any
// firmware goes out: true only when an identity reply carrying the name the
// scan found (any name for a pair no scan named) arrives on the input (attempts as
// ProbeConnection's). A controller that went away, or was replaced by another behind the same port
// names, gets nothing. The output header is left unprepared.
bool ConfirmDevice(UpdateState& state, PortRecord& input, PortRecord& output,
                   std::uint8_t modelByte);

// A controller may pause for up to half a second (flash erasure; a busy host
// that runs it): over USB its requests queue and are answered late, over JACK
// they are lost. Attempts start 300 ms apart, so the third goes out 600 ms
// after the first and reaches a controller whose 500 ms pause began at any
// moment from the first sending on; one that is gone is reported 900 ms after
// the probe began.
inline constexpr int kProbeAttempts = 3;

}  // namespace korvane

// The firmware transfer: the image sent to the first pair of the PortPairList
// in blocks of 16 paced messages, each block acknowledged or sent again.
#pragma once

#include <cstdint>

namespace korvane {

class UpdateState;
struct PortRecord;

// Runs the whole transfer, writes its verdict and posts STEP_RESET_PORTS
// (nothing when it was asked to stop). Runs on a worker thread.
void TransferWorker(UpdateState& state);

// Sends an identity request for the model and tells whether an identity reply
// arrives on the input within 300 ms.
bool ProbeConnection(UpdateState& state, PortRecord& input, PortRecord& output,
                     std::uint8_t modelByte);

}  // namespace korvane

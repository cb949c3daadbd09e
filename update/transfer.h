// The firmware transfer: the image sent to the first pair of the PortPairList
// in blocks of 16 paced messages, each block acknowledged or sent again.
#pragma once

namespace korvane {

class UpdateState;

// Runs the whole transfer, writes its verdict and posts STEP_RESET_PORTS
// (nothing when it was asked to stop). Runs on a worker thread.
//
// "Update successfully completed." means: every message of the image went out
// (none refused by the MIDI system, or each sent again in an acknowledged
// attempt), every block of 16 was acknowledged with status 0 (a block passed
// over needs a later acknowledged block), and, when the last block has fewer
// than 16 messages and so is never acknowledged, the controller answered the
// connection probe after it.
void TransferWorker(UpdateState& state);

}  // namespace korvane

// The firmware transfer: the image sent to the chosen device's pair of ports
// in blocks of 16 paced messages, each block acknowledged or sent again.
#pragma once

namespace korvane {

class UpdateState;

// Runs the whole transfer, writes its verdict and posts STEP_RESET_PORTS
// (nothing when it was asked to stop). Runs on a worker thread.
//
// "Update successfully completed." means: the controller answered with the
// scanned name when asked just before the first block (otherwise nothing is
// sent), every message of the image went out (none refused by the MIDI
// system, or each sent again in an acknowledged attempt), every block of 16
// was acknowledged by a block reply with status 0, and after a last block of
// fewer than 16 messages, which nothing acknowledges and nothing may follow,
// the pair's ports are still listed by the MIDI system 300 ms after it.
void TransferWorker(UpdateState& state);

}  // namespace korvane

// The device choice and what a transfer needs before it starts, shared by the
// window's steps and the runs that call the steps in order.
#pragma once

namespace korvane {

class UpdateState;

// Asks the window to choose among the scan's devices. False, recorded as not
// chosen, when the user cancels or there is nothing to choose from.
bool ChooseFoundDevice(UpdateState& state);

// Readies the chosen pair: every other port is closed (only the pair stays in
// the MIDI system while the firmware goes out), the input events are cleared
// and nothing counts as sent yet.
void PrepareTransfer(UpdateState& state);

}  // namespace korvane

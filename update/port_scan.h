// Device discovery: which output and input port pairs lead to a controller of
// the update file's model, and the device list the user chooses from.
#pragma once

#include <optional>
#include <string>

namespace korvane {

class UpdateState;

// Sends an identity request on every output port and pairs it with the input
// that answers; posts STEP_CHOOSE_DEVICE or STEP_NO_DEVICE. Runs on a worker thread.
void PortScanWorker(UpdateState& state);

// One NUL-terminated "%s (%s/%s)" entry per pair, ended by an empty entry;
// nothing when no pair gave an entry.
std::optional<std::string> BuildDeviceList(const UpdateState& state);

// Leaves the chosen pair (-1: the list as it is) first in the PortPairList.
void ApplyDeviceChoice(UpdateState& state, int chosenIndex);

}  // namespace korvane

// Device discovery: which output and input port pairs lead to a controller of
// the update file's model, and the device list the user chooses from.
#pragma once

#include <cstdint>
#include <string>

#include "run/found_device.h"

namespace korvane {

class UpdateState;
struct PortRecord;

// Sends an identity request on every output port and pairs it with the input
// that answers; the devices found replace the state's, and it posts
// STEP_CHOOSE_DEVICE or STEP_NO_DEVICE. Runs on a worker thread.
void PortScanWorker(UpdateState& state);

// The device an answer names, on the two ports it came through: their
// numbers and the names their capabilities show.
FoundDevice DescribeDevice(const PortRecord& output, const PortRecord& input, std::uint8_t model,
                           std::string name);

}  // namespace korvane

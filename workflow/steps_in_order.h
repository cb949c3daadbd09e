// The window's chain for a front end without a window thread (the terminal):
// each step's work called in order on the calling thread. The workers still
// post their next steps; nothing waits for those posts.
#pragma once

#include <string>

namespace korvane {

class UpdateState;

// The first paint's greeting, the file at path taken as the open-file dialog's
// choice, its load and check, and the model re-check that opens a scan. True
// when the file was accepted and no stop was asked for.
bool LoadAndCheckFile(UpdateState& state, const std::string& path);

// Opens every port and asks each output for a controller. True when one
// answered and no stop was asked for; the ports stay open either way.
bool ScanAllPorts(UpdateState& state);

// LoadAndCheckFile and ScanAllPorts, then every port closed again, for runs
// that each open their own pair.
bool ScanForDevices(UpdateState& scan, const std::string& path);

// The chosen device's update on this thread: only its pair stays open, the
// firmware goes out, then every port is closed.
void UpdateChosenDevice(UpdateState& state);

}  // namespace korvane

// The device choice on a terminal: the rules that stand in for the device
// selection dialog when korvane-flash runs.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "run/window.h"

namespace korvane {

// The entries of a device list text (NUL-terminated entries, ended by an empty one).
std::vector<std::string> SplitDeviceList(const std::string& deviceList);

struct DevicePromptSettings {
  std::optional<int> device;  // --device N, counted from 0
  bool askOnInput = false;    // stdin is a terminal
  // Reads the answer's line; nothing at the end of input or when the run is
  // stopped. Without it, lines are read from the prompt's stream.
  std::function<std::optional<std::string>()> readLine = {};
};

// --device N takes entry N; a single entry is taken without asking; several
// are asked for on in when it is a terminal, else listed as "N: ENTRY" lines
// on out and nothing is chosen. Never chooses an entry that does not exist.
// An entry taken without asking is named on err, so that a list that changed
// since it was read cannot pick another controller unnoticed.
DeviceChoice PromptForDevice(const std::vector<std::string>& entries,
                             const DevicePromptSettings& settings, std::istream& in,
                             std::ostream& out, std::ostream& err);

}  // namespace korvane

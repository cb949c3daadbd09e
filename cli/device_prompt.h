// The device choice on a terminal: the rules that stand in for the device
// selection dialog when korvane-flash runs.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "run/found_device.h"

namespace korvane {

// The devices a --device argument names, in list order. Digits only are an
// entry number (from 0): that device, or none when it is not there. Anything
// else is a name: a device matches when its name without its padding blanks
// equals it, or when its whole entry without its leading blanks does, which
// tells apart two controllers of one name by their ports. Every device that
// matches either way is returned; the caller refuses anything but exactly one.
std::vector<std::size_t> DevicesNamedBy(const std::vector<FoundDevice>& devices,
                                        std::string_view argument);

struct DevicePromptSettings {
  std::optional<std::string> device;  // --device NAME or N
  bool askOnInput = false;            // stdin is a terminal
  // Reads the answer's line; nothing at the end of input or when the run is
  // stopped. Without it, lines are read from the prompt's stream.
  std::function<std::optional<std::string>()> readLine = {};
};

struct DevicePromptAnswer {
  DeviceChoice choice;
  // --device named no entry or several: a refusal, not a choice left open.
  bool deviceRefused = false;
};

// --device takes the one entry it names, and refuses (listing every entry on
// err) when it names none or several; a single entry is taken without asking;
// several are asked for on in when it is a terminal, else listed as
// "N: ENTRY" lines on out and nothing is chosen. Never chooses an entry that
// does not exist. An entry taken without asking is named on err, so that a
// list that changed since it was read cannot pick another controller
// unnoticed.
DevicePromptAnswer PromptForDevice(const std::vector<FoundDevice>& devices,
                                   const DevicePromptSettings& settings, std::istream& in,
                                   std::ostream& out, std::ostream& err);

}  // namespace korvane

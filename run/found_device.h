// What a scan finds: each controller that answered, on the pair of ports
// that leads to it. The device list every front end shows is a vector of
// these; a choice is an index into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// An output and an input by device number.
struct PortPair {
  std::int32_t output = -1;
  std::int32_t input = -1;
  bool operator==(const PortPair&) const = default;
};

struct FoundDevice {
  PortPair ports{};
  // The name the identity reply gave, padded at the front to 12 characters
  // as the controller shows it; empty for a pair set up without a scan.
  std::string name{};
  std::uint8_t model = 0;
  // The two ports' names as the MIDI system lists them.
  std::string outputName{};
  std::string inputName{};
};

// "NAME (OUTPUT/INPUT)": the device list's entry.
std::string DeviceEntry(const FoundDevice& device);
std::vector<std::string> DeviceEntries(const std::vector<FoundDevice>& devices);

// The name without the padding blanks around it.
std::string_view TrimmedName(const FoundDevice& device);

// The device selection dialog's answer: the chosen entry, or none when the
// user cancelled.
using DeviceChoice = std::optional<std::size_t>;

// A list dialog's answer as a choice: OK with no entry selected (-1) takes
// the first.
DeviceChoice ChoiceOfDialog(bool accepted, int selected);

}  // namespace korvane

#include "run/found_device.h"

namespace korvane {

std::string DeviceEntry(const FoundDevice& device) {
  return device.name + " (" + device.outputName + "/" + device.inputName + ")";
}

std::vector<std::string> DeviceEntries(const std::vector<FoundDevice>& devices) {
  std::vector<std::string> entries;
  entries.reserve(devices.size());
  for (const FoundDevice& device : devices)
    entries.push_back(DeviceEntry(device));
  return entries;
}

std::string_view TrimmedName(const FoundDevice& device) {
  const std::string_view name = device.name;
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

DeviceChoice ChoiceOfDialog(bool accepted, int selected) {
  if (!accepted)
    return std::nullopt;
  return selected < 0 ? std::size_t{0} : static_cast<std::size_t>(selected);
}

}  // namespace korvane

#include "cli/device_prompt.h"

#include <charconv>

namespace korvane {

namespace {

void ListEntries(const std::vector<std::string>& entries, std::ostream& out) {
  for (std::size_t i = 0; i < entries.size(); ++i)
    out << i << ": " << entries[i] << '\n';
  out.flush();
}

std::optional<int> ParseIndex(const std::string& text, std::size_t count) {
  int value = -1;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 ||
      static_cast<std::size_t>(value) >= count)
    return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::string> SplitDeviceList(const std::string& deviceList) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < deviceList.size()) {
    const std::size_t nul = deviceList.find('\0', start);
    const std::size_t end = nul == std::string::npos ? deviceList.size() : nul;
    if (end == start)
      break;  // the empty entry ends the list
    entries.push_back(deviceList.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

DeviceChoice PromptForDevice(const std::vector<std::string>& entries,
                             const DevicePromptSettings& settings, std::istream& in,
                             std::ostream& out, std::ostream& err) {
  const DeviceChoice none{IDCANCEL, -1};
  if (entries.empty())
    return none;
  if (settings.device) {
    if (*settings.device >= 0 && static_cast<std::size_t>(*settings.device) < entries.size()) {
      err << "korvane-flash: updating device " << *settings.device << ": "
          << entries[static_cast<std::size_t>(*settings.device)] << '\n';
      return {IDOK, *settings.device};
    }
    err << "korvane-flash: --device " << *settings.device << " names no device; " << entries.size()
        << " answered:\n";
    ListEntries(entries, err);
    return none;
  }
  if (entries.size() == 1) {
    err << "korvane-flash: updating the only device: " << entries.front() << '\n';
    return {IDOK, 0};
  }
  if (!settings.askOnInput) {
    ListEntries(entries, out);
    err << "korvane-flash: " << entries.size() << " devices answered; choose one with --device N\n";
    return none;
  }
  ListEntries(entries, out);
  for (;;) {
    out << "Device to update (0-" << entries.size() - 1 << ", empty to cancel): " << std::flush;
    std::optional<std::string> line;
    if (settings.readLine) {
      line = settings.readLine();
    } else if (std::string read; std::getline(in, read)) {
      line = read;
    }
    if (!line || line->empty())
      return none;
    const std::string& answer = *line;
    if (auto index = ParseIndex(answer, entries.size()))
      return {IDOK, *index};
    out << "No device " << answer << ".\n";
  }
}

}  // namespace korvane

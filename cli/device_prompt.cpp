#include "cli/device_prompt.h"

#include <algorithm>
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

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  return text;
}

}  // namespace

std::vector<std::size_t> DevicesNamedBy(const std::vector<FoundDevice>& devices,
                                        std::string_view argument) {
  std::vector<std::size_t> named;
  if (AllDigits(argument)) {
    std::size_t index = 0;
    const char* end = argument.data() + argument.size();
    auto [ptr, ec] = std::from_chars(argument.data(), end, index);
    if (ec == std::errc() && ptr == end && index < devices.size())
      named.push_back(index);
    return named;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (TrimmedName(devices[i]) == argument ||
        WithoutLeadingBlanks(DeviceEntry(devices[i])) == argument)
      named.push_back(i);
  }
  return named;
}

DevicePromptAnswer PromptForDevice(const std::vector<FoundDevice>& devices,
                                   const DevicePromptSettings& settings, std::istream& in,
                                   std::ostream& out, std::ostream& err) {
  const DevicePromptAnswer none{};
  const std::vector<std::string> entries = DeviceEntries(devices);
  if (entries.empty())
    return none;
  if (settings.device) {
    const std::string& argument = *settings.device;
    const std::vector<std::size_t> named = DevicesNamedBy(devices, argument);
    if (named.size() == 1) {
      err << "korvane-flash: updating device " << named.front() << ": " << entries[named.front()]
          << '\n';
      return {named.front()};
    }
    // A number is shown as typed, a name quoted: it may hold blanks.
    err << "korvane-flash: --device " << (AllDigits(argument) ? argument : '"' + argument + '"');
    if (named.empty())
      err << " names no device; " << entries.size() << " answered:\n";
    else
      err << " names " << named.size() << " devices; use the whole entry:\n";
    ListEntries(entries, err);
    return {none.choice, true};
  }
  if (entries.size() == 1) {
    err << "korvane-flash: updating the only device: " << entries.front() << '\n';
    return {std::size_t{0}};
  }
  if (!settings.askOnInput) {
    ListEntries(entries, out);
    err << "korvane-flash: " << entries.size()
        << " devices answered; choose one with --device NAME or N\n";
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
      return {static_cast<std::size_t>(*index)};
    out << "No device " << answer << ".\n";
  }
}

}  // namespace korvane

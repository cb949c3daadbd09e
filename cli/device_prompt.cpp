#include "cli/device_prompt.h"

#include <algorithm>
#include <charconv>

#include "midi/protocol.h"

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

// The scan pads every device name to the same width, so the field ends there
// even when the name itself holds blanks or parentheses.
std::string_view DeviceNameOf(std::string_view entry) {
  const std::string_view name = WithoutLeadingBlanks(entry.substr(0, kDeviceNameLength));
  const std::size_t last = name.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1);
}

}  // namespace

std::vector<std::size_t> EntriesNamedBy(const std::vector<std::string>& entries,
                                        std::string_view argument) {
  std::vector<std::size_t> named;
  if (AllDigits(argument)) {
    std::size_t index = 0;
    const char* end = argument.data() + argument.size();
    auto [ptr, ec] = std::from_chars(argument.data(), end, index);
    if (ec == std::errc() && ptr == end && index < entries.size())
      named.push_back(index);
    return named;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (DeviceNameOf(entries[i]) == argument || WithoutLeadingBlanks(entries[i]) == argument)
      named.push_back(i);
  }
  return named;
}

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

DevicePromptAnswer PromptForDevice(const std::vector<std::string>& entries,
                                   const DevicePromptSettings& settings, std::istream& in,
                                   std::ostream& out, std::ostream& err) {
  const DevicePromptAnswer none{{IDCANCEL, -1}};
  if (entries.empty())
    return none;
  if (settings.device) {
    const std::string& argument = *settings.device;
    const std::vector<std::size_t> named = EntriesNamedBy(entries, argument);
    if (named.size() == 1) {
      err << "korvane-flash: updating device " << named.front() << ": " << entries[named.front()]
          << '\n';
      return {{IDOK, static_cast<int>(named.front())}};
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
    return {{IDOK, 0}};
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
      return {{IDOK, *index}};
    out << "No device " << answer << ".\n";
  }
}

}  // namespace korvane

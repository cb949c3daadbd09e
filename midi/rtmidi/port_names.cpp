#include "midi/rtmidi/port_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace korvane::rtmidi_backend {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ALSA ports read "client:port 128:0"; the numbers are the last word.
std::string_view WithoutAlsaAddress(std::string_view name) {
  const auto blank = name.rfind(' ');
  if (blank == std::string_view::npos)
    return name;
  const std::string_view address = name.substr(blank + 1);
  const auto colon = address.find(':');
  if (colon == std::string_view::npos)
    return name;
  if (!AllDigits(address.substr(0, colon)) || !AllDigits(address.substr(colon + 1)))
    return name;
  return name.substr(0, blank);
}

}  // namespace

bool IsOwnPort(RtMidi::Api api, std::string_view portName) {
  if (api == RtMidi::LINUX_ALSA)
    portName = WithoutAlsaAddress(portName);
  const auto colon = portName.find(':');
  if (colon == std::string_view::npos)
    return false;
  const std::string_view client = portName.substr(0, colon);
  if (client == kClientName)
    return true;
  if (api != RtMidi::UNIX_JACK || !client.starts_with(kClientName))
    return false;
  const std::string_view suffix = client.substr(kClientName.size());
  return suffix.size() > 1 && suffix[0] == '-' && AllDigits(suffix.substr(1));
}

std::string DisplayName(RtMidi::Api api, std::string_view portName) {
  if (api == RtMidi::LINUX_ALSA)
    portName = WithoutAlsaAddress(portName);
  return std::string(portName);
}

void CopyProductName(std::string_view name, char* field, std::size_t fieldSize) {
  if (fieldSize == 0)
    return;
  std::size_t length = std::min(name.size(), fieldSize - 1);
  if (length < name.size()) {
    // Back off to the start of a character if the cut falls inside one.
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
      --length;
  }
  std::memcpy(field, name.data(), length);
  std::memset(field + length, 0, fieldSize - length);
}

}  // namespace korvane::rtmidi_backend

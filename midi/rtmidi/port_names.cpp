#include "midi/rtmidi/port_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "midi/rtmidi/api_descriptor.h"

namespace korvane::rtmidi_backend {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "client:port 128:0" (ALSA's): the numbers are the last word.
std::string_view WithoutNumbers(std::string_view name) {
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
  const ApiDescriptor& system = Describe(api);
  if (system.numbersInPortName)
    portName = WithoutNumbers(portName);
  const auto colon = portName.find(':');
  if (colon == std::string_view::npos)
    return false;
  const std::string_view client = portName.substr(0, colon);
  if (client == kClientName)
    return true;
  if (!system.renamesClients || !client.starts_with(kClientName))
    return false;
  const std::string_view suffix = client.substr(kClientName.size());
  return suffix.size() > 1 && suffix[0] == '-' && AllDigits(suffix.substr(1));
}

PortNameParts SplitPortName(RtMidi::Api api, std::string_view portName) {
  const ApiDescriptor& system = Describe(api);
  if (system.numbersInPortName)
    portName = WithoutNumbers(portName);
  const auto colon = portName.find(':');
  if (!system.clientInPortName || colon == std::string_view::npos)
    return {"", std::string(portName)};
  return {std::string(portName.substr(0, colon)), std::string(portName.substr(colon + 1))};
}

namespace {

bool ContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// At most limit bytes: the start and the end of the text around "..", each
// cut on a UTF-8 character's boundary. Names tell ports apart by their start
// (the device) and their end (a number, a suffix), rarely by their middle.
std::string ShortenInTheMiddle(std::string_view text, std::size_t limit) {
  if (text.size() <= limit)
    return std::string(text);
  constexpr std::string_view kMark = "..";
  if (limit < kMark.size() + 2) {
    std::size_t head = limit;
    while (head > 0 && ContinuationByte(text[head]))
      --head;
    return std::string(text.substr(0, head));
  }
  const std::size_t kept = limit - kMark.size();
  std::size_t head = (kept + 1) / 2;
  while (head > 0 && ContinuationByte(text[head]))
    --head;
  std::size_t tail = text.size() - (kept - (kept + 1) / 2);
  while (tail < text.size() && ContinuationByte(text[tail]))
    ++tail;
  return std::string(text.substr(0, head)) + std::string(kMark) + std::string(text.substr(tail));
}

// "client:port" within limit, each part shortened only as far as needed:
// a short part stays whole and the other takes the rest.
std::string ShortenBoth(const PortNameParts& parts, std::size_t limit) {
  if (parts.client.empty())
    return ShortenInTheMiddle(parts.port, limit);
  const std::size_t room = limit > 0 ? limit - 1 : 0;  // without the ':'
  std::size_t portRoom = room / 2;
  if (parts.port.size() <= room / 2)
    portRoom = parts.port.size();
  else if (parts.client.size() <= room / 2)
    portRoom = room - parts.client.size();
  const std::string port = ShortenInTheMiddle(parts.port, portRoom);
  return ShortenInTheMiddle(parts.client, room - port.size()) + ":" + port;
}

std::string Candidate(const PortNameParts& parts, bool portNameShared, std::size_t limit) {
  const std::string whole = parts.client.empty() ? parts.port : parts.client + ":" + parts.port;
  if (whole.size() <= limit)
    return whole;
  if (!portNameShared)
    return ShortenInTheMiddle(parts.port, limit);
  return ShortenBoth(parts, limit);
}

}  // namespace

std::vector<std::string> DeviceNames(const std::vector<PortNameParts>& ports, std::size_t limit) {
  std::map<std::string_view, int> portNameCount;
  for (const auto& p : ports)
    ++portNameCount[p.port];
  std::vector<std::string> names;
  names.reserve(ports.size());
  std::set<std::string> taken;
  std::vector<std::size_t> repeated;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    names.push_back(Candidate(ports[i], portNameCount[ports[i].port] > 1, limit));
    if (!taken.insert(names.back()).second)
      repeated.push_back(i);
  }
  // The first port keeps the name; the others are numbered as WinMM numbers
  // devices of the same name, skipping a number whose name is already taken.
  for (const std::size_t i : repeated) {
    const std::string base = names[i];
    for (int n = 2;; ++n) {
      const std::string prefix = std::to_string(n) + "- ";
      std::string name = prefix + ShortenInTheMiddle(base, limit - std::min(limit, prefix.size()));
      if (taken.insert(name).second) {
        names[i] = std::move(name);
        break;
      }
    }
  }
  return names;
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

// How RtMidi's port names become device names, and how our own ports are told apart.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <rtmidi/RtMidi.h>

namespace korvane::rtmidi_backend {

// The client name of every RtMidi object the program makes.
inline constexpr std::string_view kClientName = "Korvane Update";

// True for a port that belongs to one of our own clients. JACK renames a
// second client of the same name "NAME-01", "NAME-02"..., ALSA keeps the name.
bool IsOwnPort(RtMidi::Api api, std::string_view portName);

// A port's name in the parts that identify it. JACK and ALSA name a port
// "client:port" (ALSA adds the "128:0" address, which is dropped here: it
// changes when a device is plugged in again); CoreMIDI gives one name, kept
// whole as the port's.
struct PortNameParts {
  std::string client;
  std::string port;
};
PortNameParts SplitPortName(RtMidi::Api api, std::string_view portName);

// The device names of ports listed at one time, each at most `limit` bytes
// (WinMM's name field holds 31), in the same order:
//  - "client:port" when it fits;
//  - else the port's own name (ALSA ports name their device: "VirMIDI 0-0"),
//    when no other listed port has that name;
//  - else "client:port" with each part shortened in its middle, so that both
//    ends stay ("Long Client..Name A:out");
//  - a name still taken by an earlier port gets WinMM's "2- ", "3- "...
// A name depends only on the port's own parts and on the ports with the same
// port name, so a port keeps its name from one count to the next.
std::vector<std::string> DeviceNames(const std::vector<PortNameParts>& ports, std::size_t limit);

// Copies a name into a fixed-size WinMM name field: cut to fit, never in the
// middle of a UTF-8 sequence, always terminated.
void CopyProductName(std::string_view name, char* field, std::size_t fieldSize);

}  // namespace korvane::rtmidi_backend

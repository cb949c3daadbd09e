// How RtMidi's port names become device names, and how our own ports are told apart.
#pragma once

#include <string>
#include <string_view>

#include <rtmidi/RtMidi.h>

namespace korvane::rtmidi_backend {

// The client name of every RtMidi object the program makes.
inline constexpr std::string_view kClientName = "Korvane Update";

// True for a port that belongs to one of our own clients. JACK renames a
// second client of the same name "NAME-01", "NAME-02"..., ALSA keeps the name.
bool IsOwnPort(RtMidi::Api api, std::string_view portName);

// The name shown for a port: ALSA's trailing "client:port" numbers dropped.
std::string DisplayName(RtMidi::Api api, std::string_view portName);

// Copies a name into a fixed-size WinMM name field: cut to fit, never in the
// middle of a UTF-8 sequence, always terminated.
void CopyProductName(std::string_view name, char* field, std::size_t fieldSize);

}  // namespace korvane::rtmidi_backend

// The computer's own MIDI system, as each back-end library provides it: RtMidi
// over ALSA, JACK and CoreMIDI on Linux and macOS, WinMM on Windows. CMake
// links the one back-end of the platform; nothing else chooses.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/midi_services.h"

namespace korvane {

std::unique_ptr<MidiServices> MakePlatformMidiServices();

// The MIDI system's own full name of a port of services (made above), where
// the device name had to be shortened to 31 bytes; empty where the device
// name is already the whole name.
std::string SystemPortName(MidiServices& services, bool input, UINT id);

// Each MIDI system the platform has, with why it does not run now (empty
// when it does): for a user who sees no port.
struct MidiSystemState {
  std::string name;
  std::string whyNot;
};
std::vector<MidiSystemState> DescribeMidiSystems();

}  // namespace korvane

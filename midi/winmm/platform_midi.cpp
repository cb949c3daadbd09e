#include "midi/platform_midi.h"

#include "midi/winmm/native_winmm_services.h"

namespace korvane {

std::unique_ptr<MidiServices> MakePlatformMidiServices() {
  return std::make_unique<NativeWinmmServices>();
}

// WinMM's device names are the system's own.
std::string SystemPortName(MidiServices&, bool, UINT) {
  return {};
}

std::vector<MidiSystemState> DescribeMidiSystems() {
  return {{"WinMM", {}}};
}

}  // namespace korvane

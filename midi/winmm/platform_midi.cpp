#include "midi/platform_midi.h"

#include "midi/winmm/native_winmm_services.h"

namespace korvane {

std::unique_ptr<MidiServices> MakePlatformMidiServices() {
  return std::make_unique<NativeWinmmServices>();
}

std::vector<MidiSystemState> DescribeMidiSystems() {
  return {{"WinMM", {}}};
}

}  // namespace korvane

// korvane-update.exe: the native window over the computer's WinMM MIDI ports.
#include <windows.h>

#include "app/win32/update_app.h"
#include "midi/platform_midi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::unique_ptr<korvane::MidiServices> midi = korvane::MakePlatformMidiServices();
  return korvane::CUpdateApp().InitInstance(*midi);
}

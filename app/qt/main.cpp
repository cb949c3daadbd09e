// korvane-update: the window over the computer's real MIDI ports.
#include <QApplication>

#include "app/qt/update_app.h"

// The platform's own MIDI back-end: the one korvane_midi_backend holds.
#ifdef _WIN32
#include "midi/winmm/native_winmm_services.h"
using PlatformMidiServices = korvane::NativeWinmmServices;
#else
#include "midi/rtmidi/rtmidi_services.h"
using PlatformMidiServices = korvane::RtMidiServices;
#endif

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  korvane::CUpdateApp app;
  PlatformMidiServices midi;
  return app.InitInstance(midi);
}

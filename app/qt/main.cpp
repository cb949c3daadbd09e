// korvane-update: the window over the computer's real MIDI ports.
#include <QApplication>

#include "app/qt/update_app.h"
#include "midi/rtmidi/rtmidi_services.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  korvane::CUpdateApp app;
  korvane::RtMidiServices midi;
  return app.InitInstance(midi);
}

// The application: runs the main dialog modally over the given MIDI system and
// ends the program when the dialog's run ends.
#pragma once

namespace korvane {

class MidiServices;

class CUpdateApp {
 public:
  // Registers the common controls, builds the main dialog, runs it to its end
  // and returns the exit code.
  int InitInstance(MidiServices& midi);
};

}  // namespace korvane

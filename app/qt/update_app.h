// The application: runs the main dialog modally over the given MIDI system and
// ends the program when the dialog's run ends.
#pragma once

#include <optional>
#include <string>

namespace korvane {

class MidiServices;

class CUpdateApp {
 public:
  // Sets the program's name, version and icon on the running QApplication.
  CUpdateApp();

  // Builds the main dialog, runs it to its end and returns the exit code.
  // With startFile (a full path) the window checks that file at once.
  int InitInstance(MidiServices& midi, std::optional<std::string> startFile = std::nullopt);
};

}  // namespace korvane

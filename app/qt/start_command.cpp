#include "app/qt/start_command.h"

#include "app/qt/about_dlg.h"

namespace korvane {

StartCommand ParseStartCommand(std::span<const std::string> args) {
  StartCommand command;
  for (const std::string& arg : args) {
    if (arg == "--")
      break;
    if (arg == "--help" || arg == "-h") {
      command.mode = StartCommand::Mode::kHelp;
      return command;
    }
    if (arg == "--version") {
      command.mode = StartCommand::Mode::kVersion;
      return command;
    }
  }
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && arg.starts_with("-")) {
      command.mode = StartCommand::Mode::kError;
      command.error = "unknown option '" + arg + "'";
      return command;
    }
    if (command.file) {
      command.mode = StartCommand::Mode::kError;
      command.error = "give at most one FILE";
      return command;
    }
    command.file = arg;
  }
  return command;
}

std::string StartUsageText() {
  return "Usage: korvane-update [FILE]\n"
         "  or:  korvane-update --help\n"
         "  or:  korvane-update --version\n"
         "\n"
         "The window that replaces the firmware of a Korvane controller over MIDI:\n"
         "open an update file, choose the device, watch the log.\n"
         "\n"
         "With FILE the window starts straight into the check of that update file,\n"
         "as if it had been chosen with the Open button, and then looks for the\n"
         "controllers on every MIDI port pair.\n"
         "\n"
         "Options:\n"
         "  --help         print this text\n"
         "  --version      print the version\n"
         "  --             end of the options: a FILE named like an option follows\n"
         "\n"
         "The window system's own options (-platform NAME, -display DISPLAY and\n"
         "the others of Qt) are taken as well.\n"
         "\n"
         "Exit status: 0 when the window was closed, 64 for a bad command line.\n";
}

std::string StartVersionText() {
  return std::string("korvane-update ") + kProgramVersion + "\n";
}

}  // namespace korvane

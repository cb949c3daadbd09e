// korvane-flash's command line: one table of options drives both the parsing
// and the usage text.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace korvane {

// Exit statuses of korvane-flash (the full update adds its own in
// flash_command.h).
constexpr int kExitPassed = 0;
constexpr int kExitRefused = 2;
constexpr int kExitUsage = 64;     // a bad command line
constexpr int kExitLogWrite = 74;  // the log file could not be opened
// A signal stopped the run before firmware was sent: 128 + its number.
constexpr int kExitSignalBase = 128;

struct Command {
  enum class Mode { kNone, kHelp, kCheck, kList, kFlash, kAll };
  Mode mode = Mode::kNone;
  std::string file;                    // --check FILE, --all FILE, or the FILE to update
  std::optional<std::string> device;   // --device NAME or N (the full update)
  std::optional<std::string> logPath;  // --log PATH
  std::optional<std::string> logDir;   // --log-dir DIR (with --all)
};

struct ParsedCommandLine {
  Command command;
  std::string error;  // empty when the command line is good
};

// args are the arguments after the program name.
ParsedCommandLine ParseCommandLine(std::span<const char* const> args);

std::string UsageText();

}  // namespace korvane

// korvane-update's command line: at most one update FILE to check at once,
// --help and --version. Plain C++, so that --help and --version answer before
// the window system is reached (they work without a display).
#pragma once

#include <optional>
#include <span>
#include <string>

namespace korvane {

constexpr int kStartExitUsage = 64;  // a bad command line, as korvane-flash

struct StartCommand {
  enum class Mode { kWindow, kHelp, kVersion, kError };
  Mode mode = Mode::kWindow;
  std::optional<std::string> file;  // checked at once, as if chosen with Open
  std::string error;                // kError: what was wrong
};

// args are the arguments after the program name. --help and --version win
// wherever they stand, so that they can be answered from the raw arguments;
// the rest is only meaningful once the window system took its own options.
StartCommand ParseStartCommand(std::span<const std::string> args);

std::string StartUsageText();
std::string StartVersionText();

}  // namespace korvane

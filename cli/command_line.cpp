#include "cli/command_line.h"

#include <array>
#include <string_view>

namespace korvane {

namespace {

struct OptionRow {
  std::string_view name;
  std::string_view argument;  // empty for a flag
  std::string_view help;
  bool selectsMode;  // --check, --list and --help exclude one another
  void (*apply)(Command& command, std::string_view value);
};

void SetMode(Command& command, Command::Mode mode) {
  command.mode = mode;
}

constexpr std::array kOptions{
    OptionRow{"--check", "FILE",
              "load and check the update FILE as the window does, then stop before the ports", true,
              [](Command& c, std::string_view v) {
                SetMode(c, Command::Mode::kCheck);
                c.file = std::string(v);
              }},
    OptionRow{"--log", "PATH", "with --check: write the final log text to PATH, CR LF included",
              false, [](Command& c, std::string_view v) { c.logPath = std::string(v); }},
    OptionRow{"--list", "", "list the MIDI input and output ports", true,
              [](Command& c, std::string_view) { SetMode(c, Command::Mode::kList); }},
    OptionRow{"--help", "", "print this text", true,
              [](Command& c, std::string_view) { SetMode(c, Command::Mode::kHelp); }},
};

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& option : kOptions) {
    if (option.name == name)
      return &option;
  }
  return nullptr;
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<const char* const> args) {
  ParsedCommandLine parsed;
  Command& command = parsed.command;
  bool modeSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const OptionRow* option = FindOption(arg);
    if (option == nullptr) {
      parsed.error = "unknown argument '" + std::string(arg) + "'";
      return parsed;
    }
    std::string_view value;
    if (!option->argument.empty()) {
      if (i + 1 >= args.size()) {
        parsed.error = std::string(arg) + " needs " + std::string(option->argument);
        return parsed;
      }
      value = args[++i];
    }
    if (option->selectsMode && modeSeen) {
      parsed.error = "give only one of --check, --list and --help";
      return parsed;
    }
    if (option->name == "--log" && command.logPath) {
      parsed.error = "--log given twice";
      return parsed;
    }
    modeSeen = modeSeen || option->selectsMode;
    option->apply(command, value);
  }
  if (command.mode == Command::Mode::kNone) {
    parsed.error = "nothing to do";
  } else if (command.logPath && command.mode != Command::Mode::kCheck) {
    parsed.error = "--log goes with --check";
  } else if (command.mode == Command::Mode::kCheck && command.file.empty()) {
    parsed.error = "--check needs a file name";
  }
  return parsed;
}

std::string UsageText() {
  std::string text =
      "Usage: korvane-flash --check FILE [--log PATH]\n"
      "       korvane-flash --list\n"
      "       korvane-flash --help\n"
      "\n"
      "Options:\n";
  for (const OptionRow& option : kOptions) {
    std::string left = "  " + std::string(option.name);
    if (!option.argument.empty())
      left += " " + std::string(option.argument);
    left.resize(std::max<std::size_t>(left.size() + 2, 16), ' ');
    text += left + std::string(option.help) + "\n";
  }
  text +=
      "\n"
      "Exit status: 0 when the file passed the check, 2 when it was refused,\n"
      "64 for a bad command line, 74 when the log file could not be written.\n";
  return text;
}

}  // namespace korvane

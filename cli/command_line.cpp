#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "cli/log_file.h"

namespace korvane {

namespace {

struct OptionSpec {
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
    OptionSpec{"--check", "FILE",
               "load and check the update FILE as the window does, then stop "
               "before the ports",
               true,
               [](Command& c, std::string_view v) {
                 SetMode(c, Command::Mode::kCheck);
                 c.file = std::string(v);
               }},
    OptionSpec{"--all", "FILE",
               "update every controller that answers, all at once, each on its own "
               "ports",
               true,
               [](Command& c, std::string_view v) {
                 SetMode(c, Command::Mode::kAll);
                 c.file = std::string(v);
               }},
    OptionSpec{"--log-dir", "DIR",
               "with --all: one log file per controller in DIR, named for it and its "
               "ports",
               false, [](Command& c, std::string_view v) { c.logDir = std::string(v); }},
    OptionSpec{"--log", "PATH", "write the final log text to PATH, CR LF included", false,
               [](Command& c, std::string_view v) { c.logPath = std::string(v); }},
    OptionSpec{"--device", "NAME|N",
               "update the controller of that name, or entry N (from 0) of the "
               "device list",
               false, [](Command& c, std::string_view v) { c.device = std::string(v); }},
    OptionSpec{"--list", "", "list the MIDI input and output ports", true,
               [](Command& c, std::string_view) { SetMode(c, Command::Mode::kList); }},
    OptionSpec{"--help", "", "print this text", true,
               [](Command& c, std::string_view) { SetMode(c, Command::Mode::kHelp); }},
};

const OptionSpec* FindOption(std::string_view name) {
  if (name == "-h")
    name = "--help";
  for (const OptionSpec& option : kOptions) {
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
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;  // what follows is a file, even if it starts with '-'
      continue;
    }
    // --name=value is --name value.
    std::optional<std::string_view> inlineValue;
    if (const std::size_t equals = arg.find('=');
        !optionsEnded && arg.starts_with("--") && equals != std::string_view::npos) {
      inlineValue = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
    }
    const OptionSpec* option = optionsEnded ? nullptr : FindOption(arg);
    if (option == nullptr && !arg.empty() && (optionsEnded || !arg.starts_with("-"))) {
      // The file of the full update.
      if (modeSeen || !command.file.empty()) {
        parsed.error = "unexpected argument '" + std::string(arg) + "'";
        return parsed;
      }
      command.mode = Command::Mode::kFlash;
      command.file = std::string(arg);
      continue;
    }
    if (option == nullptr) {
      parsed.error = "unknown argument '" + std::string(arg) + "'";
      return parsed;
    }
    std::string_view value;
    if (!option->argument.empty()) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        parsed.error = std::string(arg) + " needs " + std::string(option->argument);
        return parsed;
      }
    } else if (inlineValue) {
      parsed.error = std::string(arg) + " takes no value";
      return parsed;
    }
    if (option->selectsMode && (modeSeen || command.mode == Command::Mode::kFlash)) {
      parsed.error = "give only one of --all, --check, --list and --help";
      return parsed;
    }
    if ((option->name == "--log" && command.logPath) ||
        (option->name == "--log-dir" && command.logDir) ||
        (option->name == "--device" && command.device)) {
      parsed.error = std::string(option->name) + " given twice";
      return parsed;
    }
    modeSeen = modeSeen || option->selectsMode;
    option->apply(command, value);
  }
  if (command.mode == Command::Mode::kNone) {
    parsed.error = "nothing to do";
  } else if (command.logPath && command.mode != Command::Mode::kCheck &&
             command.mode != Command::Mode::kFlash) {
    parsed.error = "--log goes with --check or FILE";
  } else if (command.device && command.mode != Command::Mode::kFlash) {
    parsed.error = "--device goes with FILE";
  } else if (command.logDir && command.mode != Command::Mode::kAll) {
    parsed.error = "--log-dir goes with --all";
  } else if ((command.mode == Command::Mode::kAll || command.logDir) &&
             (command.file.empty() || (command.logDir && command.logDir->empty()))) {
    parsed.error = command.file.empty() ? "--all needs a file name" : "--log-dir needs a folder";
  } else if (command.device && command.device->empty()) {
    parsed.error = "--device needs a device name or an entry number";
  } else if (command.mode == Command::Mode::kCheck && command.file.empty()) {
    parsed.error = "--check needs a file name";
  } else if (command.logPath && SameFile(*command.logPath, command.file)) {
    parsed.error = "--log names the update file, which the log would overwrite";
  }
  return parsed;
}

std::string UsageText() {
  std::string text =
      "Usage: korvane-flash [--device NAME|N] [--log PATH] FILE\n"
      "  or:  korvane-flash --all FILE [--log-dir DIR]\n"
      "  or:  korvane-flash --check FILE [--log PATH]\n"
      "  or:  korvane-flash --list\n"
      "  or:  korvane-flash --help\n"
      "\n"
      "Options:\n";
  auto left = [](const OptionSpec& option) {
    std::string text = "  " + std::string(option.name);
    if (!option.argument.empty())
      text += " " + std::string(option.argument);
    return text;
  };
  // The help texts start in one column, two blanks after the longest option.
  std::size_t column = 0;
  for (const OptionSpec& option : kOptions)
    column = std::max(column, left(option).size() + 2);
  for (const OptionSpec& option : kOptions) {
    std::string line = left(option);
    line.resize(column, ' ');
    text += line + std::string(option.help) + "\n";
  }
  text +=
      "\n"
      "FILE: load, check, find the controllers on every MIDI port pair and "
      "send\n"
      "the firmware to the chosen one.\n"
      "\n"
      "--device picks the controller to update when several answer (one alone\n"
      "is updated without it). NAME is the controller's name as the device list\n"
      "shows it, without the blanks before it; when two share a name, give the\n"
      "whole entry of the list, ports included. Digits only are an entry number\n"
      "(from 0). The list's order can change from one run to the next: scripts\n"
      "give a NAME (or the whole entry), a number only for a list just seen.\n"
      "\n"
      "Exit status: 0 when the update completed (with --check: the file "
      "passed),\n"
      "1 for the danger verdict (errors while flashing, or the connection "
      "lost),\n"
      "2 when the file was refused, 3 when there was no MIDI port or no "
      "device\n"
      "answered or --device named none or several of those that did, 4 when\n"
      "no device was chosen, 64 for a bad command line,\n"
      "74 when the log file could not be opened, 128 + the signal's number\n"
      "(130 for Ctrl-C) when a signal stopped the run before any firmware was sent.\n"
      "\n"
      "--all updates every controller of the file's model that answers, each on\n"
      "its own pair of ports, at the same time, and ends with a table of them:\n"
      "exit status 0 when every one ended in success, 1 when any ended in\n"
      "danger or a lost connection, 3 when none answered or one got nothing.\n"
      "\n"
      "SIGINT (Ctrl-C), SIGTERM and SIGHUP stop the run between two messages. Once\n"
      "firmware was sent, the status of its verdict stands.\n";
  return text;
}

}  // namespace korvane

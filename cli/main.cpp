// korvane-flash: the update engine behind a terminal.
#include <iostream>
#include <span>

#include "app/standard_streams.h"
#include "cli/all_command.h"
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/list_command.h"
#include "cli/log_file.h"

int main(int argc, char** argv) {
  using namespace korvane;
  ReopenClosedStandardStreams();
  const std::span<const char* const> args(argv + 1,
                                          static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  const ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.error.empty()) {
    std::cerr << "korvane-flash: " << parsed.error << "\n\n" << UsageText();
    return kExitUsage;
  }
  // Opened before anything else: a log that cannot be written is known
  // before a MIDI port is touched.
  LogFile log;
  if (parsed.command.logPath) {
    if (const std::string error = log.Open(*parsed.command.logPath); !error.empty()) {
      std::cerr << "korvane-flash: " << error << '\n';
      return kExitLogWrite;
    }
  }
  LogFile* const logFile = log.IsOpen() ? &log : nullptr;
  switch (parsed.command.mode) {
    case Command::Mode::kCheck:
      return RunCheck(parsed.command.file, logFile, std::cout, std::cerr);
    case Command::Mode::kList:
      return RunList(std::cout, std::cerr);
    case Command::Mode::kFlash:
      return RunFlashCommand({parsed.command.file, logFile, parsed.command.device});
    case Command::Mode::kAll:
      return RunAllCommand({parsed.command.file, parsed.command.logDir});
    default:
      std::cout << UsageText();
      return kExitPassed;
  }
}

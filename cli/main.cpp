// korvane-flash: the update engine behind a terminal.
#include <iostream>
#include <span>

#include "app/standard_streams.h"
#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/list_command.h"

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
  switch (parsed.command.mode) {
    case Command::Mode::kCheck:
      return RunCheck(parsed.command.file, parsed.command.logPath, std::cout, std::cerr);
    case Command::Mode::kList:
      return RunList(std::cout);
    case Command::Mode::kFlash:
      return RunFlashCommand({parsed.command.file, parsed.command.logPath, parsed.command.device});
    default:
      std::cout << UsageText();
      return kExitPassed;
  }
}

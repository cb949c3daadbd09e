// The full update's entry on Windows. Its terminal stop (a console control
// handler) is not written yet, so the command says so instead of running an
// update that Ctrl-C could not stop between two messages.
#include <iostream>

#include "cli/command_line.h"
#include "cli/flash_command.h"

namespace korvane {

int RunFlashCommand(const FlashSettings&) {
  std::cerr << "korvane-flash: the full update from a terminal is not available on Windows yet; "
               "use the Korvane Update window\n";
  return kExitUsage;
}

}  // namespace korvane

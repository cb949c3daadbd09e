// `korvane-flash --list` on Windows: the ports WinMM itself knows.
#include "cli/command_line.h"
#include "cli/list_command.h"
#include "cli/port_listing.h"
#include "midi/winmm/native_winmm_services.h"

namespace korvane {

int RunList(std::ostream& out) {
  NativeWinmmServices services;
  PrintPortList(services, out);
  return kExitPassed;
}

}  // namespace korvane

// `korvane-flash --list` on Windows: the ports WinMM itself knows.
#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/list_command.h"
#include "cli/port_listing.h"
#include "midi/winmm/native_winmm_services.h"

namespace korvane {

int RunList(std::ostream& out, std::ostream& err) {
  NativeWinmmServices services;
  if (PrintPortList(services, out) > 0)
    return kExitPassed;
  err << "korvane-flash: WinMM lists no MIDI port\n";
  return kExitNoDevice;
}

}  // namespace korvane

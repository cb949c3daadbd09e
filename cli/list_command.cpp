#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/port_listing.h"
#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {

int RunList(std::ostream& out) {
  RtMidiServices services;
  PrintPortList(services, out,
                [&services](bool input, UINT id) { return services.SystemName(input, id); });
  return kExitPassed;
}

}  // namespace korvane

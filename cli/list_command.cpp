#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/port_listing.h"
#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {

int RunList(std::ostream& out) {
  RtMidiServices services;
  PrintPortList(services, out);
  return kExitPassed;
}

}  // namespace korvane
